#include "disk/readWriteInterface.h"

#include "disk/RecoveryContext.h"

namespace quenlow::disk {

bool readWriteInterface::read(void*, uint32_t) { return true; }

bool readWriteInterface::seek(int64_t, int32_t) { return true; }

bool readWriteInterface::rotate(std::string*) { return true; }

uint32_t readWriteInterface::readRun(int64_t offset, void* buffer, uint32_t sectors) {
    auto* out = static_cast<unsigned char*>(buffer);
    for (uint32_t i = 0; i < sectors; ++i) {
        if (!seek(offset + static_cast<int64_t>(i) * kSectorSize, 0)) return i;
        if (!read(out + static_cast<size_t>(i) * kSectorSize, kSectorSize)) return i;
    }
    return sectors;
}

bool readWriteInterface::piecesInside(const Piece*, size_t) const { return false; }

bool readWriteInterface::readPieces(const Piece* pieces, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (readRun(pieces[i].offset, pieces[i].data, pieces[i].sectors) != pieces[i].sectors) return false;
    return true;
}

void readWriteInterface::reportFailure(const std::string& userText, const std::string& detail) {
    lastError_ = detail.empty() ? userText : detail;
    if (!userText.empty() && context_ != nullptr && context_->feedback != nullptr)
        context_->feedback->message(userText);
}

}  // namespace quenlow::disk
