#pragma once

#include <QObject>

#include <utility>

// Stores `value` in a published field and emits the field's change signal, only when the
// value differs: the body of every plain setter of the models.
template <typename Object, typename T, typename Value>
void publish(Object* object, T& field, Value&& value, void (Object::*changed)()) {
    if (field == value) {
        return;
    }
    field = std::forward<Value>(value);
    Q_EMIT(object->*changed)();
}
