#include "shell/program_state.h"

#include <atomic>

namespace kelvane::shell {

namespace {
Image g_working{};
Image g_device{};
std::atomic<int> g_language{0};
}  // namespace

Image& workingImage() { return g_working; }
Image& deviceImage() { return g_device; }

int currentLanguage() { return g_language.load(std::memory_order_relaxed); }
void setCurrentLanguage(int language) { g_language.store(language, std::memory_order_relaxed); }

}  // namespace kelvane::shell
