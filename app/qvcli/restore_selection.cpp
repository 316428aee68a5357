#include "restore_selection.h"

#include "bridge_kind.h"

namespace {

// The index of the file's function at address, or file.size().
unsigned FindInFile(const std::vector<SpaceImage>& file, const PciAddress& address) {
    unsigned i = 0;
    while (i < file.size() && !SamePciAddress(file[i].Address, address)) ++i;
    return i;
}

// A function of the file to show in an example: the first of domain 0000
// that is no bridge.
const SpaceImage& ExampleFunction(const std::vector<SpaceImage>& file) {
    for (const SpaceImage& image : file) {
        if (image.Address.Domain == 0 && BridgeKindOf(image.Bytes) == kNotABridge) return image;
    }
    return file[0];
}

void SayHowToName(const std::vector<SpaceImage>& file, const char* path, FILE* err) {
    char example[kPciAddressText];
    FormatPciAddress(ExampleFunction(file).Address, example);
    fprintf(err,
            "qvcli: %s holds %u functions, and restore writes only those named:\n"
            "    qvcli restore %s %s\n"
            "or, for every function of the file but host bridges and bridges (which are written only when "
            "named):\n"
            "    qvcli restore --all %s\n"
            "--dry-run before either says what would change and writes nothing.\n",
            path, (unsigned)file.size(), path, example, path);
}

// A file whose every function is a bridge or host bridge, with no name.
void SayOnlyBridges(const std::vector<SpaceImage>& file, const char* path, FILE* err) {
    char text[kPciAddressText];
    FormatPciAddress(file[0].Address, text);
    if (file.size() == 1) {
        fprintf(err, "qvcli: %s holds %s, %s, which is written only when named:\n", path, text,
                BridgeKindText(BridgeKindOf(file[0].Bytes)));
    } else {
        fprintf(err,
                "qvcli: every function of %s is a host bridge or a bridge, written only when named, e.g.:\n",
                path);
    }
    fprintf(err, "    qvcli restore %s %s\n", path, text);
}

}  // namespace

bool ChooseFunctions(const std::vector<SpaceImage>& file, const RestoreArgs& args,
                     std::vector<RestoreChoice>* choices, FILE* err) {
    choices->assign(file.size(), RestoreChoice{kNotAsked, false});
    for (const NamedFunction& name : args.Names) {
        unsigned i = FindInFile(file, name.Address);
        if (i == file.size()) {
            char text[kPciAddressText];
            FormatPciAddress(name.Address, text);
            fprintf(err, "qvcli: %s holds no function %s\n", args.Path, text);
            return false;
        }
        (*choices)[i].How = kNamed;
        (*choices)[i].AcceptDifferent = name.AcceptDifferent;
    }
    if (!args.All && !args.Names.empty()) return true;
    if (!args.All && file.size() > 1) {
        SayHowToName(file, args.Path, err);
        return false;
    }
    // --all, or the one function of a file without names.
    bool anyTaken = !args.Names.empty();
    for (unsigned i = 0; i < file.size(); ++i) {
        RestoreChoice& choice = (*choices)[i];
        if (choice.How != kNotAsked) continue;
        bool bridge = BridgeKindOf(file[i].Bytes) != kNotABridge;
        choice.How = bridge ? kBridgeLeftOut : kTaken;
        anyTaken = anyTaken || !bridge;
    }
    if (!anyTaken) SayOnlyBridges(file, args.Path, err);
    return anyTaken;
}
