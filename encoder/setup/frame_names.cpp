// Numbered picture file names.
#include "encoder/setup/frame_names.h"

#include <cstdio>
#include <cstring>

namespace vintrel {

std::string format_frame_name(const std::string& name_template, int number) {
    std::string name;
    bool number_used = false;
    for (std::size_t i = 0; i < name_template.size(); i++) {
        const char c = name_template[i];
        if (c != '%') {
            name += c;
            continue;
        }
        if (i + 1 < name_template.size() && name_template[i + 1] == '%') {
            name += '%';
            i++;
            continue;
        }
        // %[flags][width][.precision]conversion
        std::size_t end = i + 1;
        while (end < name_template.size() && std::strchr("-+ #0", name_template[end])) end++;
        std::size_t digits = 0;
        while (end < name_template.size() && name_template[end] >= '0' && name_template[end] <= '9' && digits < 3) {
            end++;
            digits++;
        }
        if (end < name_template.size() && name_template[end] == '.') {
            end++;
            digits = 0;
            while (end < name_template.size() && name_template[end] >= '0' && name_template[end] <= '9' &&
                   digits < 3) {
                end++;
                digits++;
            }
        }
        const bool integer = end < name_template.size() && (name_template[end] == 'd' || name_template[end] == 'i');
        if (!integer || number_used) {
            name += c;
            continue;
        }
        const std::string spec = name_template.substr(i, end - i) + "d";
        char text[1024];
        std::snprintf(text, sizeof text, spec.c_str(), number);
        name += text;
        number_used = true;
        i = end;
    }
    return name;
}

}  // namespace vintrel
