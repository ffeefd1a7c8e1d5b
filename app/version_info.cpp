// Version record look-ups.
#include "app/version_info.h"

#include "app/version_record.h"

namespace vintrel {

TProjectRCVersion::TProjectRCVersion() : record_(program_version_items) {}

bool TProjectRCVersion::find(std::string_view name, std::string& text) const {
    for (const VersionItem& item : record_)
        if (item.name == name) {
            text = item.value;
            return true;
        }
    return false;
}

}  // namespace vintrel
