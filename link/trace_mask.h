#pragma once
// A line trace with the controller's secrets taken out, to be sent to someone
// else: the 32 data bytes of every frame of a download or an upload masked as
// an image is masked (kelvane::MaskSecrets: codes, keys and password replaced,
// the rest kept), so the trace still shows which blocks went and when. Every
// chunk of a frame's size (34 bytes) is masked so, wherever it stands; bytes
// read during a download that make no whole frame (a short read, cut off or
// out of step) are replaced by zeros apart from a block index. Every other
// line stays as it is.
#include <string>

namespace kelvane::link {

std::string MaskTrace(const std::string& trace);

}  // namespace kelvane::link
