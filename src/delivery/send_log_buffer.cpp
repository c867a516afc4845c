#include "delivery/send_log_buffer.h"

#include "common/file_util.h"

namespace qm {

std::string toCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16 + 2);
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

void SendLogBuffer::setSpill(std::string path, std::size_t bound) {
    std::lock_guard file(fileMutex_);
    spillPath_ = std::move(path);
    spillBound_ = bound;
}

void SendLogBuffer::append(int slot, std::string_view text) {
    if (text.empty() || slot < 0 || slot >= kSlots) return;
    bool cut = false;
    if (std::size_t crlf = text.find("\r\n"); crlf != std::string_view::npos) {
        text = text.substr(0, crlf);
        cut = true;
    }
    Slot& s = slots_[slot];
    std::lock_guard lock(s.mutex);
    if (text.substr(0, kRecipientMark.size()) == kRecipientMark) {
        s.blockStart = s.text.size();
        // The previous blocks are finished now; move them out before this one grows.
        std::lock_guard file(fileMutex_);
        if (!spillPath_.empty() && s.blockStart > 0 && s.text.size() >= spillBound_) {
            std::string chunk = toCrLf(std::string_view(s.text).substr(0, s.blockStart));
            chunk += "\r\n";
            appendFile(spillPath_, chunk);
            s.text.erase(0, s.blockStart);
            s.blockStart = 0;
        }
    }
    s.text.append(text);
    if (cut) s.text += '\n';
}

void SendLogBuffer::beginRecipient(int slot, std::string_view address) {
    std::string text(kRecipientMark);
    text.append(address);
    text += '\n';
    append(slot, text);
}

bool SendLogBuffer::write(const std::string& path) {
    if (path.empty()) return true;
    // Every slot is held for the whole write, always in slot order, so no append interleaves.
    std::unique_lock<std::mutex> held[kSlots];
    for (int i = 0; i < kSlots; ++i) held[i] = std::unique_lock(slots_[i].mutex);
    std::lock_guard file(fileMutex_);
    std::string out;
    for (const Slot& s : slots_) {
        if (s.text.empty()) continue;
        out += toCrLf(s.text);
        out += "\r\n";
    }
    if (out.empty()) return true;
    if (!appendFile(path, out)) return false;
    for (Slot& s : slots_) {
        s.text.clear();
        s.blockStart = 0;
    }
    return true;
}

std::string SendLogBuffer::slotText(int slot) const {
    if (slot < 0 || slot >= kSlots) return {};
    std::lock_guard lock(slots_[slot].mutex);
    return slots_[slot].text;
}

}  // namespace qm
