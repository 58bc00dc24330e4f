// The sample request text of each of the eight interfaces of the window.
#ifndef ZOLVO_DEMO_SAMPLES_H
#define ZOLVO_DEMO_SAMPLES_H

#include <QString>

// Number of interfaces offered by typeComboBox.
constexpr int kInterfaceCount = 8;

// The sample request (a JSON text) of interface `index`; empty outside 0..7.
QString sampleRequest(int index);

#endif  // ZOLVO_DEMO_SAMPLES_H
