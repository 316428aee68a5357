// Message-map lookup shared by windows and the application object.
#include "afx.h"

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, nullptr}};
    static const AFX_MSGMAP map = {nullptr, &entries[0]};
    return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

static bool EntryMatches(const AFX_MSGMAP_ENTRY& entry, UINT message, UINT code, UINT id) {
    if (entry.nMessage != message) return false;
    if (message != WM_COMMAND && message != WM_NOTIFY) return true;
    return entry.nCode == code && id >= entry.nID && id <= entry.nLastID;
}

BOOL CCmdTarget::DispatchMapped(UINT message, UINT code, UINT id, WPARAM wParam, LPARAM lParam,
                                LRESULT* result) {
    for (const AFX_MSGMAP* map = GetMessageMap(); map != nullptr;
         map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry->nMessage != 0; ++entry) {
            if (EntryMatches(*entry, message, code, id)) {
                *result = entry->pfn(this, wParam, lParam);
                return TRUE;
            }
        }
    }
    return FALSE;
}
