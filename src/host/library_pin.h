#pragma once

namespace morva {

// Keeps the library mapped until the process ends. Background tasks (downloads, the sign-in
// window) run library code on their own threads and nothing may wait for them while the
// library is being unloaded, so once the first module exists the terminal's FreeLibrary /
// dlclose no longer unmaps it. Safe to call any number of times; a failure leaves the library
// unpinned and is logged.
void PinLibrary() noexcept;

// Whether PinLibrary has succeeded: unloading then happens only at process exit.
bool LibraryPinned() noexcept;

}  // namespace morva
