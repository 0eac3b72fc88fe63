#include "ini_file.h"

#include <cctype>
#include <climits>
#include <fstream>
#include <sstream>

#include "platform.h"

namespace {

constexpr size_t kMaxChars = 1023;

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
    return s.substr(b, e - b);
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Section name of a "[name]" line, or false.
bool SectionOf(const std::string& line, std::string& name) {
    const std::string t = Trim(line);
    if (t.size() < 2 || t.front() != '[') return false;
    const size_t close = t.find(']');
    if (close == std::string::npos) return false;
    name = Trim(t.substr(1, close - 1));
    return true;
}

bool KeyOf(const std::string& line, std::string& key, std::string& value) {
    const std::string t = Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#' || t[0] == '[') return false;
    const size_t eq = t.find('=');
    if (eq == std::string::npos) return false;
    key = Trim(t.substr(0, eq));
    value = Trim(t.substr(eq + 1));
    return true;
}

std::string Unquote(const std::string& v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        return v.substr(1, v.size() - 2);
    return v;
}

// Cuts after kMaxChars characters without splitting a UTF-8 sequence.
std::string Limit(const std::string& v) {
    size_t chars = 0;
    for (size_t i = 0; i < v.size(); ++i) {
        if ((static_cast<unsigned char>(v[i]) & 0xC0) != 0x80) {
            if (chars == kMaxChars) return v.substr(0, i);
            ++chars;
        }
    }
    return v;
}

}  // namespace

IniDocument IniDocument::Load(const std::string& path) {
    IniDocument doc;
    std::ifstream in(path, std::ios::binary);
    if (!in) return doc;
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = ss.str();
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) {
        doc.bom_ = true;
        text.erase(0, 3);
    }
    std::string line;
    std::istringstream lines(text);
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        doc.lines_.push_back(line);
    }
    return doc;
}

IniDocument::Found IniDocument::Find(const std::string& section, const std::string& key) const {
    Found f;
    std::string name, k, v;
    bool inside = false;
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (SectionOf(lines_[i], name)) {
            if (inside) break;  // the first matching section is the one used
            inside = SameName(name, Trim(section));
            if (inside) f.sectionLine = long(i);
            continue;
        }
        if (!inside) continue;
        if (!Trim(lines_[i]).empty()) f.sectionEnd = long(i);
        if (f.keyLine < 0 && KeyOf(lines_[i], k, v) && SameName(k, Trim(key))) f.keyLine = long(i);
    }
    if (f.sectionLine >= 0 && f.sectionEnd < 0) f.sectionEnd = f.sectionLine;
    return f;
}

std::string IniDocument::Get(const std::string& section, const std::string& key, const std::string& fallback) const {
    const Found f = Find(section, key);
    if (f.keyLine < 0) return Limit(fallback);
    std::string k, v;
    KeyOf(lines_[size_t(f.keyLine)], k, v);
    return Limit(Unquote(v));
}

bool IniDocument::Has(const std::string& section, const std::string& key) const {
    return Find(section, key).keyLine >= 0;
}

void IniDocument::Set(const std::string& section, const std::string& key, const std::string& value) {
    const Found f = Find(section, key);
    const std::string line = Trim(key) + "=" + value;
    if (f.keyLine >= 0) {
        lines_[size_t(f.keyLine)] = line;
    } else if (f.sectionLine >= 0) {
        lines_.insert(lines_.begin() + f.sectionEnd + 1, line);
    } else {
        if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.push_back("");
        lines_.push_back("[" + Trim(section) + "]");
        lines_.push_back(line);
    }
}

bool IniDocument::Save(const std::string& path) const {
    std::string content = bom_ ? "\xEF\xBB\xBF" : "";
    for (const std::string& l : lines_) content += l + "\n";
    std::string why;
    return WriteFileSafely(path, content.data(), content.size(), why);
}

std::string ReadIniString(const std::string& path, const std::string& section, const std::string& key,
                          const std::string& fallback) {
    return IniDocument::Load(path).Get(section, key, fallback);
}

bool WriteIniString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value) {
    if (IsReadOnlyFile(path)) return false;
    IniDocument doc = IniDocument::Load(path);
    doc.Set(section, key, value);
    return doc.Save(path);
}

int32_t IniToInt(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long v = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > 2147483648LL) v = 2147483648LL;
    }
    if (negative) v = -v;
    if (v > INT32_MAX) v = INT32_MAX;
    return int32_t(v);
}
