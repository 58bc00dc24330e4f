// Qt's local 8-bit encoding stands for the Windows ANSI code page. The target
// systems run with code page 936, so the whole program uses GBK for it: the
// plate reaches the library as GBK and the library's texts are decoded from GBK.
#ifndef ZOLVO_DEMO_LOCALENCODING_H
#define ZOLVO_DEMO_LOCALENCODING_H

// Makes GBK Qt's local 8-bit encoding. Call it first thing in main, before
// anything converts a text.
void useAnsiCodePage();

#endif  // ZOLVO_DEMO_LOCALENCODING_H
