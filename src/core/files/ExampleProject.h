#pragma once

#include "core/base/Result.h"

#include <QString>

// The sample project shipped with the application, copied into the user's data folder on
// first start so there is something to run right away.
namespace ExampleProject {

// Copies each direct entry of `source` (hidden ones included; folders whole) into
// `destination`, creating it, unless something of that name is already there: files the
// user changed are never overwritten, while files added to a newer release appear.
// Returns `destination` when prepared.
Result<QString> prepare(const QString& source, const QString& destination);

}  // namespace ExampleProject
