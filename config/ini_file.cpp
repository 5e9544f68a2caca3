#include "config/ini_file.h"

#include <limits>

#include "platform/files.h"
#include "platform/text_encoding.h"

namespace qm {

namespace {

// What the profile reader takes for blanks; ^Z is an old end-of-file mark that
// editors leave behind.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\x1a';
}

std::string Trim(const std::string& s, std::size_t from, std::size_t to) {
    while (from < to && IsBlank(s[from])) ++from;
    while (to > from && IsBlank(s[to - 1])) --to;
    return s.substr(from, to - from);
}

std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool IsUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Cuts to the byte limit without splitting a UTF-8 character: when the first
// byte left out continues a character, the cut moves back to that character's
// lead byte. Bytes that are not UTF-8 are cut at the limit.
std::string CutValue(std::string v) {
    if (v.size() <= kIniMaxValueBytes) return v;
    std::size_t n = kIniMaxValueBytes;
    for (int back = 0; back < 3 && n > 0 && IsUtf8Continuation(v[n]); ++back) --n;
    const bool lead = (static_cast<unsigned char>(v[n]) & 0xC0) == 0xC0;
    v.resize(n < kIniMaxValueBytes && lead ? n : kIniMaxValueBytes);
    return v;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::int32_t> ParseInteger(const std::string& s) {
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        std::uint64_t v = 0;
        for (std::size_t i = 2; i < s.size(); ++i) {
            int d = HexDigit(s[i]);
            if (d < 0) return std::nullopt;
            v = v * 16 + static_cast<unsigned>(d);
            if (v > 0xFFFFFFFFu) return std::nullopt;
        }
        // A hexadecimal value is a 32-bit pattern: 0xFFFFFFFF reads as -1.
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    }
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i == s.size()) return std::nullopt;
    const std::int64_t limit =
        negative ? -static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::min())
                 : std::numeric_limits<std::int32_t>::max();
    std::int64_t v = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < '0' || s[i] > '9') return std::nullopt;
        v = v * 10 + (s[i] - '0');
        if (v > limit) return std::nullopt;
    }
    return static_cast<std::int32_t>(negative ? -v : v);
}

bool HasLineBreakOrNul(const std::string& s) {
    return s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

}  // namespace

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {
    std::optional<std::string> text = platform::ReadWholeFile(path_);
    if (!text) {
        unreadable_ = platform::ProbeFile(path_).exists;
        text.emplace();
    }
    // The file is in the system's 8-bit code page, unless a byte order mark
    // says it is UTF-8 (a file saved by an editor).
    utf8_ = text->rfind("\xEF\xBB\xBF", 0) == 0;
    if (!utf8_) *text = platform::System8BitToUtf8(*text);
    std::size_t pos = 0;
    while (pos < text->size()) {
        std::size_t nl = text->find('\n', pos);
        std::size_t end = nl == std::string::npos ? text->size() : nl + 1;
        lines_.push_back(ParseLine(text->substr(pos, end - pos), lines_.empty()));
        pos = end;
    }
    Reindex();
}

TIniFile TIniFile::Empty(std::string path) {
    TIniFile ini;
    ini.path_ = std::move(path);
    return ini;
}

TIniFile::Line TIniFile::ParseLine(std::string raw, bool first) {
    Line line;
    line.raw = std::move(raw);
    std::size_t from = 0;
    // A byte-order mark from an editor must not hide the first section header.
    if (first && line.raw.compare(0, 3, "\xEF\xBB\xBF") == 0) from = 3;
    std::size_t to = line.raw.size();
    if (to > from && line.raw[to - 1] == '\n') --to;
    const std::string content = Trim(line.raw, from, to);
    if (content.empty()) return line;
    if (content[0] == ';') {
        line.kind = LineKind::Comment;
        return line;
    }
    if (content[0] == '[') {
        std::size_t close = content.rfind(']');
        if (close != std::string::npos && close > 0) {
            line.kind = LineKind::Section;
            line.name = Lower(content.substr(1, close - 1));
            return line;
        }
        // A header without "]" is read as a key line, as the profile reader does.
    }
    line.kind = LineKind::Key;
    std::size_t eq = content.find('=');
    if (eq == std::string::npos) {
        line.name = Lower(content);
        return line;
    }
    line.name = Lower(Trim(content, 0, eq));
    line.value = Trim(content, eq + 1, content.size());
    line.hasValue = true;
    return line;
}

void TIniFile::Reindex() {
    sections_.clear();
    firstSection_.clear();
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].kind != LineKind::Section) continue;
        if (!sections_.empty()) sections_.back().end = i;
        sections_.push_back({i, lines_.size()});
        firstSection_.emplace(lines_[i].name, sections_.size() - 1);
    }
}

std::string TIniFile::Text() const {
    std::string out;
    for (const Line& l : lines_) out += l.raw;
    return out;
}

const TIniFile::SectionSpan* TIniFile::FindSection(const std::string& section) const {
    auto it = firstSection_.find(Lower(section));
    return it == firstSection_.end() ? nullptr : &sections_[it->second];
}

const TIniFile::Line* TIniFile::FindKey(const SectionSpan& span, const std::string& key) const {
    const std::string k = Lower(key);
    for (std::size_t i = span.header + 1; i < span.end; ++i)
        if (lines_[i].kind == LineKind::Key && lines_[i].name == k) return &lines_[i];
    return nullptr;
}

std::size_t TIniFile::LastKeyLine(const SectionSpan& span) const {
    std::size_t last = span.header;
    for (std::size_t i = span.header + 1; i < span.end; ++i)
        if (lines_[i].kind == LineKind::Key) last = i;
    return last;
}

bool TIniFile::SectionExists(const std::string& section) const {
    const SectionSpan* s = FindSection(section);
    return s != nullptr && LastKeyLine(*s) != s->header;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
    const SectionSpan* s = FindSection(section);
    return s != nullptr && FindKey(*s, key) != nullptr;
}

std::optional<std::string> TIniFile::ReadValue(const std::string& section,
                                               const std::string& key) const {
    const SectionSpan* s = FindSection(section);
    if (s == nullptr) return std::nullopt;
    const Line* l = FindKey(*s, key);
    if (l == nullptr || !l->hasValue) return std::nullopt;
#ifdef _WIN32
    // The limit counts the file's own bytes, as the system's profile calls
    // count them: 8-bit characters, one byte each.
    if (!utf8_) {
        std::string raw = platform::Utf8ToSystem8Bit(l->value);
        if (raw.size() <= kIniMaxValueBytes) return l->value;
        raw.resize(kIniMaxValueBytes);
        return platform::System8BitToUtf8(raw);
    }
#endif
    return CutValue(l->value);
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const {
    std::optional<std::string> v = ReadValue(section, key);
    return v ? *v : def;
}

std::int32_t TIniFile::ReadInteger(const std::string& section, const std::string& key,
                                   std::int32_t def) const {
    std::optional<std::string> v = ReadValue(section, key);
    if (!v) return def;
    return ParseInteger(*v).value_or(def);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TIniFile::CheckWritable(const std::string& section, const std::string& key,
                             const std::string& value) const {
    // A line break in a value would let it write keys or sections of its own.
    bool bad = HasLineBreakOrNul(section) || section.find(']') != std::string::npos ||
               HasLineBreakOrNul(key) || key.find('=') != std::string::npos ||
               HasLineBreakOrNul(value);
    if (bad) throw EIniFileError(path_);
}

void TIniFile::EndLastLine() {
    if (!lines_.empty() && lines_.back().raw.back() != '\n') lines_.back().raw += '\n';
}

std::string TIniFile::NewLine(const std::string& text) { return text + '\n'; }

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
    CheckWritable(section, key, value);
    const std::string text = NewLine(key + '=' + value);
    const SectionSpan* s = FindSection(section);
    if (s == nullptr) {
        EndLastLine();
        lines_.push_back(ParseLine(NewLine('[' + section + ']'), lines_.empty()));
        lines_.push_back(ParseLine(text, false));
    } else if (const Line* found = FindKey(*s, key)) {
        Line& l = lines_[static_cast<std::size_t>(found - lines_.data())];
        // The replaced line keeps its own end of line.
        bool crlf = l.raw.size() >= 2 && l.raw.compare(l.raw.size() - 2, 2, "\r\n") == 0;
        l = ParseLine(crlf ? key + '=' + value + "\r\n" : text, false);
    } else {
        std::size_t at = LastKeyLine(*s);
        Line& prev = lines_[at];
        if (prev.raw.back() != '\n') prev.raw += '\n';
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at + 1), ParseLine(text, false));
    }
    Reindex();
}

void TIniFile::ReplaceSection(const std::string& section, const std::vector<TIniKey>& keys) {
    CheckWritable(section, "", "");
    for (const TIniKey& k : keys) CheckWritable(section, k.first, k.second);
    std::vector<Line> fresh;
    for (const TIniKey& k : keys)
        fresh.push_back(ParseLine(NewLine(k.first + '=' + k.second), false));

    const SectionSpan* s = FindSection(section);
    if (s == nullptr) {
        EndLastLine();
        lines_.push_back(ParseLine(NewLine('[' + section + ']'), lines_.empty()));
        lines_.insert(lines_.end(), fresh.begin(), fresh.end());
    } else {
        const std::size_t header = s->header;
        const std::size_t last = LastKeyLine(*s);
        Line& h = lines_[header];
        if (h.raw.back() != '\n') h.raw += '\n';
        auto first = lines_.begin() + static_cast<std::ptrdiff_t>(header + 1);
        auto pastLast = lines_.begin() + static_cast<std::ptrdiff_t>(last + 1);
        auto at = lines_.erase(first, pastLast);
        lines_.insert(at, fresh.begin(), fresh.end());
    }
    Reindex();
}

void TIniFile::UpdateFile(unsigned mode, platform::ModeRule rule) const {
    if (unreadable_) throw EIniFileError(path_);
    if (platform::ProbeFile(path_).exists && !platform::IsWritableFile(path_))
        throw EIniFileError(path_);
    if (!platform::ReplaceFileAtomically(path_, utf8_ ? Text() : platform::Utf8ToSystem8Bit(Text()),
                                         mode, rule))
        throw EIniFileError(path_);
}

}  // namespace qm
