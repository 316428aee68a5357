// The controls of the program's dialog that the headless front end drives and
// reports, by id. The program's side names them (its Linux process entry, or a
// test with a dialog of its own); the stand-in knows no program's ids.
#ifndef STANDIN_UI_DIALOG_CONTROLS_H
#define STANDIN_UI_DIALOG_CONTROLS_H

namespace standin {
namespace ui {

struct DialogControls {
    int deviceList;        // `select ROW` clicks its rows; `dump` reports them with their item data
    int registerList;      // `dump` reports its rows
    const int* slotEdits;  // `dump` reports their texts as slots 0, 1, ... in this order;
    int slotCount;         // the array is the caller's and outlives every run
};

}  // namespace ui
}  // namespace standin

#endif
