#pragma once
// Field diagnostics in the main window: the Tools menu (line test of the
// chosen port, finding an adapter by plugging it in) and "Save support
// bundle…" after the help entry, their captions in the window's language.
namespace kelvane::shell {

class MainWindow;
class FormWiring;

void wireDiagnostics(MainWindow& form, FormWiring& wiring);

}  // namespace kelvane::shell
