// Reads named items of a version record: product name, version, copyright, special build.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace vintrel {

struct VersionItem {
    std::string_view name;
    std::string_view value;
};

// The program's own record (the generated one) unless another is given.
class TProjectRCVersion {
public:
    TProjectRCVersion();
    explicit TProjectRCVersion(std::span<const VersionItem> record) : record_(record) {}

    // Each answers whether the record holds the item, and hands out its text when it does.
    bool product_name(std::string& text) const { return find("ProductName", text); }
    bool product_version(std::string& text) const { return find("ProductVersion", text); }
    bool legal_copyright(std::string& text) const { return find("LegalCopyright", text); }
    bool special_build(std::string& text) const { return find("SpecialBuild", text); }

private:
    bool find(std::string_view name, std::string& text) const;
    std::span<const VersionItem> record_;
};

}  // namespace vintrel
