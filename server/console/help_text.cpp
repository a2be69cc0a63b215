// The user guide of the help window.
#include "server/console/help_text.h"

namespace tally {

const std::vector<HelpSection>& help_sections() {
    static const std::vector<HelpSection> sections = {
        {"Setting Up The Server:",
         {"The first time the server starts it asks for two settings. The working directory is the folder "
          "where the server creates and keeps its two database files, Hardware.Audit and Software.Audit. "
          "Choose a folder that stays reachable whenever the server runs, for example a folder on a local "
          "disk rather than a removable drive.",
          "The port is the UDP port on which the server listens for the clients' reports. Leave it at its "
          "default of 54333 unless a firewall or another program that already uses that port makes a change "
          "necessary. If you change it, every client must name the new port on its command line.",
          "The settings in force are shown on the \"Server Stats\" tab, and can be changed at any time with "
          "Settings in the File menu."}},
        {"Using The Client",
         {"The client needs no configuration and no installation. All it needs is the IP address of the "
          "computer that runs the server and, if the server does not listen on the default port 54333, the "
          "port: either the address alone, or the address, a colon and the port.",
          "Run the client from a log-in script, from the start-up group or by hand. It takes a fraction of a "
          "second, shows no window, sends what it finds to the server and ends.",
          "Example: scoutly 192.168.1.10:54400 reports this computer to the server at 192.168.1.10, which "
          "listens on port 54400. Add -R to keep the client running, so that the server can ask it for a "
          "fresh report later."}},
        {"Program Usage",
         {"Every packet the server receives shows a status message at the bottom of the window and raises "
          "the packet counts on the \"Server Stats\" tab.",
          "New computers appear in the list on the left. The drop-down list above it orders the list by "
          "system name, IP address or MAC address.",
          "Click a system to fill the right-hand pane with its details: the General and Hardware tabs show "
          "its hardware information, the Software tab its operating system and installed programs."}},
        {"Checking System Hardware",
         {"The Search tab finds systems by their hardware. In each of the three hardware rows choose an "
          "item, such as RAM in MB or CPU Speed (Mhz), an operator (= equal, != not equal, > greater than, "
          "< less than) and type a whole number.",
          "Join several rows with the And or Or choice at the end of a row; a row is used only when the row "
          "before it points on to it and its number is filled in. Press \"Search\" to list the matching "
          "systems and \"Clear\" to list them all again.",
          "A software search given at the same time further filters the hardware results: a system is "
          "listed only when it passes both."}},
        {"Checking For Installed Programs",
         {"To count the copies of a program on the network, enter its name, or a part of it, in the first "
          "software search field and press \"Search\". The systems that have it are listed on the left, and "
          "the number of hits appears between the \"Clear\" and \"Search\" buttons. Letters match in either "
          "case.",
          "Choose Not Installed instead of Installed to find the systems that lack a program, which is "
          "useful to check that a hot fix or an anti-virus program reached every computer.",
          "A second software line, joined by \"And\" or \"Or\", looks for a second program at the same time.",
          "Only programs that appear in a system's add/remove programs list are found."}},
        {"Troubleshooting",
         {"Most problems come from a client that sends to another port than the one the server listens on. "
          "Check the port on the \"Server Stats\" tab against the clients' command line, and make sure no "
          "firewall blocks it.",
          "With many computers the server needs enough resources: allow about 128 MB of available memory "
          "for 10 000 clients."}},
    };
    return sections;
}

std::string help_text() {
    std::string text = "\r\n";
    for (const HelpSection& s : help_sections()) {
        text += s.title;
        text += "\r\n" + std::string(41, '=') + "\r\n\r\n";
        for (const char* p : s.paragraphs) {
            text += p;
            text += "\r\n\r\n";
        }
    }
    return text;
}

}  // namespace tally
