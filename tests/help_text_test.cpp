// The help window's text: the six sections in order, each with its title
// line, the line of equals signs and an empty line; CR LF breaks only.
#include <gtest/gtest.h>

#include <string>

#include "server/console/help_text.h"

namespace tally {
namespace {

TEST(HelpText, SectionsInOrderWithTheirRules) {
    const std::string text = help_text();
    ASSERT_EQ(text.substr(0, 2), "\r\n") << "opens with an empty line";
    const char* titles[] = {"Setting Up The Server:",   "Using The Client",
                            "Program Usage",            "Checking System Hardware",
                            "Checking For Installed Programs", "Troubleshooting"};
    ASSERT_EQ(help_sections().size(), 6u);
    std::size_t at = 0;
    for (const char* title : titles) {
        const std::string head = std::string("\r\n") + title + "\r\n" + std::string(41, '=') + "\r\n\r\n";
        const std::size_t found = text.find(head, at);
        ASSERT_NE(found, std::string::npos) << title;
        at = found + head.size();
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            ASSERT_EQ(text[i - 1], '\r') << "bare line feed at " << i;
        }
    }
    EXPECT_NE(text.find("54333"), std::string::npos);
    EXPECT_NE(text.find("128 MB"), std::string::npos);
}

TEST(HelpText, AboutLinksStayUnderTheReservedDomain) {
    EXPECT_EQ(std::string(about_email_link).rfind("mailto:", 0), 0u);
    EXPECT_NE(std::string(about_email_link).find("@example.org"), std::string::npos);
    EXPECT_EQ(std::string(about_donate_link).rfind("https://example.org/", 0), 0u);
}

}  // namespace
}  // namespace tally
