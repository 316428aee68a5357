#include "space_image.h"

bool HasExtendedRows(const SpaceImage& image) {
    for (unsigned row = kHeaderRows; row < kSpaceRows; ++row) {
        if (image.RowGiven[row]) return true;
    }
    return false;
}
