#include "output/OutputName.h"

namespace quenlow::output {

namespace {

constexpr size_t kMaxExtensionBytes = 32;

// The longest prefix of `text` of at most `limit` bytes that does not split a UTF-8 sequence.
std::string cutAtCharacter(const std::string& text, size_t limit) {
    if (text.size() <= limit) return text;
    size_t end = limit;
    // Step back over continuation bytes to the start of the character that straddles the cut.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

// Position of the extension's dot, or npos when the name has no usable extension.
size_t extensionDot(const std::string& name) {
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return std::string::npos;
    if (name.size() - dot > kMaxExtensionBytes) return std::string::npos;
    return dot;
}

}  // namespace

std::string safeName(const std::string& name) {
    if (name.empty()) return "unnamed";
    if (name == ".") return "_";
    if (name == "..") return "__";
    std::string out = name;
    for (char& c : out) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '/' || u < 0x20 || u == 0x7F) c = '_';
    }
    if (out.size() > kMaxNameBytes) {
        size_t dot = extensionDot(out);
        if (dot == std::string::npos) return cutAtCharacter(out, kMaxNameBytes);
        std::string ext = out.substr(dot);
        return cutAtCharacter(out.substr(0, dot), kMaxNameBytes - ext.size()) + ext;
    }
    return out;
}

std::string taggedName(const std::string& name, const std::string& tag) {
    size_t dot = extensionDot(name);
    std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
    std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
    std::string suffix = " (" + tag + ")" + ext;
    if (suffix.size() >= kMaxNameBytes) suffix = " (" + tag + ")";
    return cutAtCharacter(stem, kMaxNameBytes - suffix.size()) + suffix;
}

}  // namespace quenlow::output
