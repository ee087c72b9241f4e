#pragma once

#include <QCheckBox>

#include "window_ops.h"

namespace runlight::ui {

// A bare check box holding the values 0 (unchecked), 1 (checked) and 2
// (greyed). A click toggles between unchecked and checked (a greyed box
// becomes checked); only the program sets greyed, through setCheckState.
class ValueBox final : public QCheckBox {
    Q_OBJECT
public:
    explicit ValueBox(QWidget* parent);

    Box value() const;

protected:
    void nextCheckState() override;
};

}  // namespace runlight::ui
