// Reading the text that `lspci -xxxx` prints, `lspci -F FILE` reads back and
// `qvcli dump` and `qvcli save` write: device lines "[DDDD:]BB:DD.F text",
// each followed by data lines "OFF: xx xx ... xx", sixteen bytes at an
// offset 00..ff0; a blank line ends a function, and any other line (the
// decoded text lspci prints) is passed over. A malformed text is refused as
// a whole with one message "NAME:LINE: what is wrong", e.g.
// "bug.txt:2: a data line needs 16 bytes".
//
// qvcli reads its restore files with it, and the stand-in reads its machine
// files with it, layering the directive lines "# quorvenal ..." of those
// files over it (LspciTextHooks). Plain C++ with the standard library: no
// Windows or Linux interface, so that both builds compile the one reader.
#ifndef QUORVENAL_LSPCI_TEXT_H
#define QUORVENAL_LSPCI_TEXT_H

#include <stddef.h>

#include <string>
#include <vector>

enum {
    kLspciSpaceBytes = 4096,
    kLspciRows = kLspciSpaceBytes / 16,
};

struct LspciAddress {
    unsigned int Domain;  // 0 when the device line gives none
    unsigned int Bus;
    unsigned int Device;
    unsigned int Function;
};

// One function as its text gives it.
struct LspciFunction {
    LspciAddress Address;
    unsigned char Bytes[kLspciSpaceBytes];  // 0 where no row gives them
    unsigned char RowGiven[kLspciRows];     // 1 where a data line gave the row
    int Line;                               // its device line
};

// Why a hook refuses the text: the line to name and what is wrong there.
struct LspciRefusal {
    int Line;
    std::string What;
};

// What a caller layers over the reader. Either function may be null.
struct LspciTextHooks {
    // Called where a line "# quorvenal WORDS" stands, with WORDS; without it
    // such lines are passed over like any other comment.
    bool (*Directive)(void* context, const std::string& words, int line, LspciRefusal* refusal);
    // Called once every function is read and checked, before a text that
    // holds none is refused.
    bool (*Finish)(void* context, const std::vector<LspciFunction>& functions, LspciRefusal* refusal);
    void* Context;
};

// Reads text into *functions, in the order it gives them. name stands for
// the file in messages. The functions of domain 0 must each be given rows
// 00..3f and come once; those of other domains are kept as they are. On
// failure returns false, with the message in *error and *functions empty.
bool ReadLspciText(const std::string& text, const std::string& name, const LspciTextHooks& hooks,
                   std::vector<LspciFunction>* functions, std::string* error);

// Whether the length characters at text begin with a device line's address,
// "[DDDD:]BB:DD.F" followed by a space or their end; the device number is
// not checked (the reader refuses one above 1f).
bool ReadLspciAddress(const char* text, size_t length, LspciAddress* address);

#endif
