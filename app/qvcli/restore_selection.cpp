#include "restore_selection.h"

#include <string.h>

#include "bridge_kind.h"

namespace {

// The index of the file's function at address, or file.Count.
unsigned FindInFile(const SpaceList& file, const PciAddress& address) {
    unsigned i = 0;
    while (i < file.Count && !SamePciAddress(file.Items[i].Address, address)) ++i;
    return i;
}

// A function of the file to show in an example: the first of domain 0000
// that is no bridge.
const SpaceImage& ExampleFunction(const SpaceList& file) {
    for (unsigned i = 0; i < file.Count; ++i) {
        const SpaceImage& image = file.Items[i];
        if (image.Address.Domain == 0 && BridgeKindOf(image.Bytes) == kNotABridge) return image;
    }
    return file.Items[0];
}

void SayHowToName(const SpaceList& file, const char* path, FILE* err) {
    char example[kPciAddressText];
    FormatPciAddress(ExampleFunction(file).Address, example);
    fprintf(err,
            "qvcli: %s holds %u functions, and restore writes only those named:\n"
            "    qvcli restore %s %s\n"
            "or, for every function of the file but host bridges and bridges (which are written only when "
            "named):\n"
            "    qvcli restore --all %s\n"
            "--dry-run before either says what would change and writes nothing.\n",
            path, file.Count, path, example, path);
}

// A file whose every function is a bridge or host bridge, with no name.
void SayOnlyBridges(const SpaceList& file, const char* path, FILE* err) {
    char text[kPciAddressText];
    FormatPciAddress(file.Items[0].Address, text);
    if (file.Count == 1) {
        fprintf(err, "qvcli: %s holds %s, %s, which is written only when named:\n", path, text,
                BridgeKindText(BridgeKindOf(file.Items[0].Bytes)));
    } else {
        fprintf(err,
                "qvcli: every function of %s is a host bridge or a bridge, written only when named, e.g.:\n",
                path);
    }
    fprintf(err, "    qvcli restore %s %s\n", path, text);
}

}  // namespace

bool ChooseFunctions(const SpaceList& file, const RestoreArgs& args, RestoreChoice* choices, FILE* err) {
    memset(choices, 0, file.Count * sizeof *choices);
    for (unsigned n = 0; n < args.NameCount; ++n) {
        unsigned i = FindInFile(file, args.Names[n].Address);
        if (i == file.Count) {
            char text[kPciAddressText];
            FormatPciAddress(args.Names[n].Address, text);
            fprintf(err, "qvcli: %s holds no function %s\n", args.Path, text);
            return false;
        }
        choices[i].How = kNamed;
        choices[i].AcceptDifferent = args.Names[n].AcceptDifferent;
    }
    if (!args.All && args.NameCount != 0) return true;
    if (!args.All && file.Count > 1) {
        SayHowToName(file, args.Path, err);
        return false;
    }
    // --all, or the one function of a file without names.
    bool anyTaken = args.NameCount != 0;
    for (unsigned i = 0; i < file.Count; ++i) {
        if (choices[i].How != kNotAsked) continue;
        bool bridge = BridgeKindOf(file.Items[i].Bytes) != kNotABridge;
        choices[i].How = bridge ? kBridgeLeftOut : kTaken;
        anyTaken = anyTaken || !bridge;
    }
    if (!anyTaken) SayOnlyBridges(file, args.Path, err);
    return anyTaken;
}
