// The sample request text of each of the eight interfaces of the window.
#ifndef ZOLVO_DEMO_SAMPLES_H
#define ZOLVO_DEMO_SAMPLES_H

#include <QString>

// The interfaces offered by typeComboBox, in its order, and their number.
enum ChooserEntry : int {
    kChooseInit,
    kChooseEntry,
    kChooseLeave,
    kChooseFinish,
    kChooseQueryOrder,
    kChooseUploadFile,
    kChooseSuppOrder,
    kChooseFreeCar,
    kInterfaceCount
};

// The sample request (a JSON text) of interface `index`; empty outside the entries.
QString sampleRequest(int index);

#endif  // ZOLVO_DEMO_SAMPLES_H
