#pragma once

// Process attach and detach, called by the platform's entry point. They stand outside the
// library's namespace, like the exports. Neither throws; false refuses the load.
bool LoadDll(void* instance) noexcept;
bool UnloadDll() noexcept;
