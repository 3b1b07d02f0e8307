// Screens whose own drawing is not built yet keep the default content.
#include "panels/panels.h"

void Panel0DrawProc(PanelRec* panel, std::int32_t a, std::int32_t b) { DefaultDrawProc(panel, a, b); }
void Panel1DrawProc(PanelRec* panel, std::int32_t a, std::int32_t b) { DefaultDrawProc(panel, a, b); }
void Panel2DrawProc(PanelRec* panel, std::int32_t a, std::int32_t b) { DefaultDrawProc(panel, a, b); }
void Panel3DrawProc(PanelRec* panel, std::int32_t a, std::int32_t b) { DefaultDrawProc(panel, a, b); }
void Panel5DrawProc(PanelRec* panel, std::int32_t a, std::int32_t b) { DefaultDrawProc(panel, a, b); }
void Panel6DrawProc(PanelRec* panel, std::int32_t a, std::int32_t b) { DefaultDrawProc(panel, a, b); }
void Panel7DrawProc(PanelRec* panel, std::int32_t a, std::int32_t b) { DefaultDrawProc(panel, a, b); }
void Panel8DrawProc(PanelRec* panel, std::int32_t a, std::int32_t b) { DefaultDrawProc(panel, a, b); }
void DrawLogos(PanelRec*, std::uint8_t, std::uint8_t) {}
