#include "space_image.h"

#include <stdlib.h>
#include <string.h>

void InitSpaceList(SpaceList* list) {
    list->Items = NULL;
    list->Count = 0;
    list->Capacity = 0;
}

void FreeSpaceList(SpaceList* list) {
    free(list->Items);
    InitSpaceList(list);
}

SpaceImage* AppendSpace(SpaceList* list) {
    if (list->Count == list->Capacity) {
        unsigned capacity = list->Capacity == 0 ? 16 : list->Capacity * 2;
        SpaceImage* items = static_cast<SpaceImage*>(realloc(list->Items, capacity * sizeof(SpaceImage)));
        if (items == NULL) return NULL;
        list->Items = items;
        list->Capacity = capacity;
    }
    SpaceImage* image = &list->Items[list->Count++];
    memset(image, 0, sizeof *image);
    return image;
}

bool HasExtendedRows(const SpaceImage& image) {
    for (unsigned row = kHeaderRows; row < kSpaceRows; ++row) {
        if (image.RowGiven[row]) return true;
    }
    return false;
}
