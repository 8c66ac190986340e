#include "utils/ShellQuote.h"

namespace {

constexpr std::array<char, 256> makeEscapeTable() {
    std::array<char, 256> table{};
    for (char& entry : table)
        entry = '-';
    for (const unsigned char meta : {'\t', ' ', '"', '#', '$', '&', '\'', '(', ')', '*', ';', '<',
                                     '>', '?', '[', '\\', '`', '|', '~'})
        table[meta] = '*';
    table['\n'] = 'n';
    return table;
}

char classOf(char byte) {
    return shell_escape_chars[static_cast<unsigned char>(byte)];
}

} // namespace

constexpr std::array<char, 256> shell_escape_chars = makeEscapeTable();

int check_shell_arg_nothrow(const char* text) {
    if (text == nullptr)
        return 1;
    for (; *text != '\0'; ++text)
        if (classOf(*text) != '-')
            return 0;
    return 1;
}

namespace korvo {

std::string sh_quote(const std::string& text) {
    std::string quoted;
    quoted.reserve(text.size() * 2);
    for (const char byte : text) {
        switch (classOf(byte)) {
        case '*':
            quoted += '\\';
            quoted += byte;
            break;
        case 'n':
            quoted += "'\n'";
            break;
        default:
            quoted += byte;
        }
    }
    return quoted;
}

} // namespace korvo
