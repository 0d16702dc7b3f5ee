// The font of the toolkit's controls and the rule that keeps every fixed text wholly
// visible inside its control's fixed pixel size.
#pragma once

#include <QFont>

class QWidget;

// The font every control starts with: a plain sans serif at the pixel size the controls'
// fixed geometry was laid out for.
QFont ChooseControlFont();

// 1 when the control's current text fits its control at `font` without clipping.
int32_t TextFitsControl(const QWidget* control, const QFont& font);

// Gives a label, button, frame or check box the control font, made smaller step by step
// only when its text would otherwise be clipped.
void FitControlFont(QWidget* control);
