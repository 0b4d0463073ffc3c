#pragma once
#include <string>

// The mDNS service file that announces the device as "_http._tcp", and the shell command that writes it.
// The command feeds the file to tee through an unquoted here-document, so every value is escaped twice:
// for XML (so the file stays well-formed) and for the here-document (so no text runs in the shell and no
// line can end the document early).
class ServiceFile {
public:
    // "sudo tee /etc/avahi/services/http.service > /dev/null <<EOF\n" + the XML text + "EOF".
    static std::string command(const std::string& identifier, int port, const std::string& mac,
                               const std::string& name);
    // Valid UTF-8 kept, other bytes read as Latin-1; markup characters as entities; line breaks and tabs as
    // character references; other control characters (not allowed in XML) as U+FFFD.
    static std::string xmlText(const std::string& text);
    // Backslash before '\\', '$' and '`', the characters an unquoted here-document still interprets.
    static std::string hereDocumentText(const std::string& text);
};
