#pragma once
// The data key under the window's menu: where the key is, writing it to a
// file wrapped with a passphrase for a colleague's laptop, and storing such
// a key here. The steps are kvtool's (jobs/key_transfer); the window only
// asks the file and the passphrase and shows what happened.
#include <functional>

namespace kelvane::shell {

class MainWindow;

// Shows the key's window. `beforeImport` runs before a key is stored (the
// window lets go of its register, which is sealed again with the new key).
void ShowDataKey(MainWindow& form, const std::function<void()>& beforeImport);

}  // namespace kelvane::shell
