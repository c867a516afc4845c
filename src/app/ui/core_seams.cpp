#include "app/ui/core_seams.h"

#include <array>

namespace qm::ui::seams {

namespace {

constexpr std::array<VariableChoice, 13> kVariables{{
    {"Name", "[**USER**]"},
    {"Title", "[**TITLE**]"},
    {"Company", "[**COMPANY**]"},
    {"Address 1", "[**ADDRESS1**]"},
    {"Address 2", "[**ADDRESS2**]"},
    {"City", "[**CITY**]"},
    {"State", "[**STATE**]"},
    {"Zip Code", "[**ZIPCODE**]"},
    {"Country/Region", "[**COUNTRY**]"},
    {"E-Mail Address", "[**EMAIL**]"},
    {"Phone Number", "[**PHONE**]"},
    {"Mobile Number", "[**MOBILE**]"},
    {"Fax Number", "[**FAX**]"},
}};

}  // namespace

std::span<const VariableChoice> dynamicVariables() {
    return kVariables;
}

std::string previewText(std::string_view html) {
    std::size_t end = html.find("</HTML>");
    if (end == std::string_view::npos) end = html.find("</html>");
    if (end != std::string_view::npos) html = html.substr(0, end + 7);
    const char* blanks = " \t\r\n";
    std::size_t first = html.find_first_not_of(blanks);
    if (first == std::string_view::npos) return "<body bgcolor=\"WHITE\"></body>";
    std::size_t last = html.find_last_not_of(blanks);
    return std::string(html.substr(first, last - first + 1));
}

bool isGeneratedPage(std::string_view page) {
    return page.find("<!---Quillmark Generated Template--->") != std::string_view::npos;
}

}  // namespace qm::ui::seams
