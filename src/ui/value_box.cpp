#include "value_box.h"

namespace runlight::ui {

ValueBox::ValueBox(QWidget* parent) : QCheckBox(parent) {}

Box ValueBox::value() const {
    switch (checkState()) {
        case Qt::Checked:
            return Box::Checked;
        case Qt::PartiallyChecked:
            return Box::Grayed;
        case Qt::Unchecked:
            break;
    }
    return Box::Unchecked;
}

void ValueBox::nextCheckState() {
    setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

}  // namespace runlight::ui
