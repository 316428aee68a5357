// Message maps: each class that handles window messages lists them in a table
// of entries, chained to its base class's table. A lookup walks from the most
// derived table to the base tables and calls the first matching entry.
//
// Entries hold a plain function (a thunk) made from the handler's member
// pointer at compile time, so a handler with the wrong signature does not
// compile and no member pointer is ever cast.
#ifndef QUORVENAL_FRAMEWORK_AFX_MSGMAP_H
#define QUORVENAL_FRAMEWORK_AFX_MSGMAP_H

#include <windows.h>
#include <commctrl.h>

class CCmdTarget;

typedef LRESULT (*AFX_HANDLER)(CCmdTarget* target, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;  // WM_COMMAND, WM_NOTIFY, WM_PAINT, ...; 0 ends the table
    UINT nCode;     // notification code (WM_COMMAND, WM_NOTIFY), else 0
    UINT nID;       // first control or command id (WM_COMMAND, WM_NOTIFY), else 0
    UINT nLastID;   // last id of the range
    AFX_HANDLER pfn;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();  // null for the root table
    const AFX_MSGMAP_ENTRY* lpEntries;
};

namespace afx {

// The class a member function belongs to, and the check of its signature.
template <class F>
struct Member;
template <class C>
struct Member<void (C::*)()> {
    typedef C Class;
};
template <class C>
struct Member<void (C::*)(NMHDR*, LRESULT*)> {
    typedef C Class;
};
template <class C>
struct Member<HCURSOR (C::*)()> {
    typedef C Class;
};

// WM_COMMAND, WM_PAINT and the like: handler takes nothing, returns nothing.
template <auto F>
LRESULT VoidThunk(CCmdTarget* target, WPARAM, LPARAM) {
    typedef typename Member<decltype(F)>::Class C;
    (static_cast<C*>(target)->*F)();
    return 0;
}

// WM_NOTIFY: handler receives the notification header and a result to fill.
template <auto F>
LRESULT NotifyThunk(CCmdTarget* target, WPARAM, LPARAM lParam) {
    typedef typename Member<decltype(F)>::Class C;
    LRESULT result = 0;
    (static_cast<C*>(target)->*F)(reinterpret_cast<NMHDR*>(lParam), &result);
    return result;
}

// WM_QUERYDRAGICON: handler returns the cursor to show while dragging.
template <auto F>
LRESULT CursorThunk(CCmdTarget* target, WPARAM, LPARAM) {
    typedef typename Member<decltype(F)>::Class C;
    return (LRESULT)(static_cast<C*>(target)->*F)();
}

}  // namespace afx

// In the class body: declares the class's table and its lookup.
#define DECLARE_MESSAGE_MAP()                     \
protected:                                        \
    static const AFX_MSGMAP* GetThisMessageMap(); \
    const AFX_MSGMAP* GetMessageMap() const override;

// In one source file: BEGIN_MESSAGE_MAP(Class, Base) entries... END_MESSAGE_MAP()
#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                        \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                                 \
        using ThisClass [[maybe_unused]] = theClass;                                  \
        using TheBaseClass = baseClass;                                               \
        static const AFX_MSGMAP_ENTRY entries[] = {
#define END_MESSAGE_MAP()                                                          \
    { 0, 0, 0, 0, nullptr }                                                        \
    }                                                                              \
    ;                                                                              \
    static const AFX_MSGMAP map = {&TheBaseClass::GetThisMessageMap, &entries[0]}; \
    return &map;                                                                   \
    }

// WM_COMMAND with notification code 0 (a menu command, or a button click).
#define ON_COMMAND(id, memberFxn) {WM_COMMAND, 0, (UINT)(id), (UINT)(id), &afx::VoidThunk<memberFxn>},
// WM_COMMAND, BN_CLICKED from button `id`.
#define ON_BN_CLICKED(id, memberFxn) \
    {WM_COMMAND, (UINT)BN_CLICKED, (UINT)(id), (UINT)(id), &afx::VoidThunk<memberFxn>},
// WM_NOTIFY with notification `code` from control `id`.
#define ON_NOTIFY(code, id, memberFxn) \
    {WM_NOTIFY, (UINT)(code), (UINT)(id), (UINT)(id), &afx::NotifyThunk<memberFxn>},
// WM_PAINT to ThisClass::OnPaint().
#define ON_WM_PAINT() {WM_PAINT, 0, 0, 0, &afx::VoidThunk<&ThisClass::OnPaint>},
// WM_QUERYDRAGICON to ThisClass::OnQueryDragIcon().
#define ON_WM_QUERYDRAGICON() {WM_QUERYDRAGICON, 0, 0, 0, &afx::CursorThunk<&ThisClass::OnQueryDragIcon>},

#endif
