// The help window's fixed user guide and the about box's two addresses.
#pragma once

#include <string>
#include <vector>

namespace tally {

// The about box's links, kept here only.
constexpr char about_email_link[] = "mailto:tallyhall@example.org";
constexpr char about_donate_link[] = "https://example.org/tallyhall/donate";

struct HelpSection {
    const char* title;
    std::vector<const char*> paragraphs;
};

// The six sections in the order the guide gives them.
const std::vector<HelpSection>& help_sections();

// The whole guide as the help window shows it: an empty first line, then
// per section its title, 41 equals signs, an empty line and its paragraphs,
// each followed by an empty line. CR LF line breaks.
std::string help_text();

}  // namespace tally
