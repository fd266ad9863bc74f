// A worker's --events output: whole lines out of the pipe's pieces, and the fields of each.
#include "benchwin/event_line.h"

#include <cstdlib>

namespace plcbench {

namespace {

void SkipSpace(const std::string& s, size_t* at) {
    while (*at < s.size() && (s[*at] == ' ' || s[*at] == '\t' || s[*at] == '\r')) ++*at;
}

void AppendUtf8(uint32_t code, std::string* out) {
    if (code < 0x80) {
        *out += static_cast<char>(code);
    } else if (code < 0x800) {
        *out += static_cast<char>(0xC0 | (code >> 6));
        *out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        *out += static_cast<char>(0xE0 | (code >> 12));
        *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

bool HexDigits(const std::string& s, size_t at, uint32_t* code) {
    if (at + 4 > s.size()) return false;
    *code = 0;
    for (size_t i = at; i < at + 4; ++i) {
        char c = s[i];
        int digit = c >= '0' && c <= '9'   ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
        if (digit < 0) return false;
        *code = *code * 16 + static_cast<uint32_t>(digit);
    }
    return true;
}

// A JSON string starting at its opening quote; *at ends past its closing quote.
bool ReadString(const std::string& s, size_t* at, std::string* out) {
    if (*at >= s.size() || s[*at] != '"') return false;
    out->clear();
    for (size_t i = *at + 1; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            *at = i + 1;
            return true;
        }
        if (c != '\\') {
            *out += c;
            continue;
        }
        if (++i >= s.size()) return false;
        switch (s[i]) {
            case 'n':
                *out += '\n';
                break;
            case 't':
                *out += '\t';
                break;
            case 'r':
                *out += '\r';
                break;
            case 'b':
                *out += '\b';
                break;
            case 'f':
                *out += '\f';
                break;
            case 'u': {
                uint32_t code = 0;
                if (!HexDigits(s, i + 1, &code)) return false;
                AppendUtf8(code, out);
                i += 4;
                break;
            }
            default:
                *out += s[i];
        }
    }
    return false;
}

// A value that is not a string: up to the comma or brace that ends it, brackets kept whole.
bool ReadScalar(const std::string& s, size_t* at, std::string* out) {
    int depth = 0;
    size_t begin = *at;
    for (size_t i = *at; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') return false;  // a string inside an array: not in our events
        if (c == '[') ++depth;
        if (c == ']' && --depth < 0) return false;
        if (depth == 0 && (c == ',' || c == '}')) {
            size_t end = i;
            while (end > begin && (s[end - 1] == ' ' || s[end - 1] == '\t')) --end;
            *out = s.substr(begin, end - begin);
            *at = i;
            return !out->empty();
        }
    }
    return false;
}

bool ParseObject(const std::string& s, EventLine* out) {
    size_t at = 0;
    SkipSpace(s, &at);
    if (at >= s.size() || s[at++] != '{') return false;
    SkipSpace(s, &at);
    if (at < s.size() && s[at] == '}') return false;  // no fields: no event
    for (;;) {
        std::string key, value;
        SkipSpace(s, &at);
        if (!ReadString(s, &at, &key)) return false;
        SkipSpace(s, &at);
        if (at >= s.size() || s[at++] != ':') return false;
        SkipSpace(s, &at);
        if (at < s.size() && s[at] == '"') {
            if (!ReadString(s, &at, &value)) return false;
        } else if (!ReadScalar(s, &at, &value)) {
            return false;
        }
        (*out)[key] = value;
        SkipSpace(s, &at);
        if (at >= s.size()) return false;
        char c = s[at++];
        if (c == '}') break;
        if (c != ',') return false;
    }
    SkipSpace(s, &at);
    return at == s.size();
}

}  // namespace

bool ParseEventLine(const std::string& line, EventLine* out) {
    out->clear();
    if (ParseObject(line, out)) return true;
    out->clear();
    return false;
}

std::string Field(const EventLine& event, const char* key) {
    auto it = event.find(key);
    return it == event.end() ? "" : it->second;
}

int64_t NumberField(const EventLine& event, const char* key, int64_t otherwise) {
    std::string text = Field(event, key);
    if (text.empty()) return otherwise;
    char* end = nullptr;
    long long value = std::strtoll(text.c_str(), &end, 10);
    return *end == '\0' ? value : otherwise;
}

double DecimalField(const EventLine& event, const char* key, double otherwise) {
    std::string text = Field(event, key);
    if (text.empty()) return otherwise;
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    return *end == '\0' ? value : otherwise;
}

std::vector<std::string> LineBuffer::Take(const char* data, size_t bytes) {
    std::vector<std::string> lines;
    for (size_t i = 0; i < bytes; ++i) {
        char c = data[i];
        if (c == '\n') {
            if (!overlong_) {
                if (!partial_.empty() && partial_.back() == '\r') partial_.pop_back();
                lines.push_back(partial_);
            }
            partial_.clear();
            overlong_ = false;
            continue;
        }
        if (overlong_) continue;
        if (partial_.size() >= MAX_EVENT_LINE_BYTES) {
            partial_.clear();
            overlong_ = true;
            continue;
        }
        partial_ += c;
    }
    return lines;
}

}  // namespace plcbench
