#include "updates/save_file_to_disk.h"

#include <algorithm>
#include <span>

#include "base/log.h"
#include "updates/replacement_file.h"

namespace morva {

namespace {

constexpr std::size_t kWritePiece = 64 * 1024;

}  // namespace

void SaveFileToDisk(const FileBytes& bytes, const std::u16string& path,
                    const WriteProgress& progress) {
    ReplacementFile file(path);
    for (std::size_t written = 0; written < bytes.size();) {
        const std::size_t piece = std::min(kWritePiece, bytes.size() - written);
        file.Write(std::span(bytes).subspan(written, piece));
        written += piece;
        if (progress) {
            progress(path, written);
        }
    }
    file.Commit();
    MORVA_LOG_INFO("{} saved successfully", path);
}

}  // namespace morva
