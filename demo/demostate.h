// The demo's one global record: which interface the operator chose and which
// image was loaded last. Constructed before main runs, destroyed at exit, and
// touched only on the GUI thread.
#ifndef ZOLVO_DEMO_DEMOSTATE_H
#define ZOLVO_DEMO_DEMOSTATE_H

#include <string>

struct DemoState {
    // Index of the chosen item of typeComboBox (0: init).
    int selectedInterface = 0;
    // Path of the last image that loaded, UTF-8; never cleared.
    std::string imagePath;
};

extern DemoState demoState;

#endif  // ZOLVO_DEMO_DEMOSTATE_H
