// A small INI layer with the semantics of the Windows private-profile
// functions: case-insensitive section and key names, blanks trimmed, quoted
// values unquoted, defaults for anything missing. Files are UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class IniDocument {
public:
    // A missing or unreadable file gives an empty document.
    static IniDocument Load(const std::string& path);
    // The value, limited to 1023 characters, or `fallback` when absent.
    std::string Get(const std::string& section, const std::string& key, const std::string& fallback) const;
    bool Has(const std::string& section, const std::string& key) const;
    // Replaces the value in place, or adds the key (and the section) at the end.
    void Set(const std::string& section, const std::string& key, const std::string& value);
    // An interrupted or failed write leaves the previous file whole; a
    // read-only file is not replaced.
    bool Save(const std::string& path) const;

private:
    struct Found {
        long sectionLine = -1, keyLine = -1, sectionEnd = -1;
    };
    Found Find(const std::string& section, const std::string& key) const;
    std::vector<std::string> lines_;
    bool bom_ = false;
};

std::string ReadIniString(const std::string& path, const std::string& section, const std::string& key,
                          const std::string& fallback);
bool WriteIniString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value);

// Decimal conversion: optional blanks and sign, leading digits; 0 without
// digits; saturates at the 32-bit limits.
int32_t IniToInt(const std::string& text);
