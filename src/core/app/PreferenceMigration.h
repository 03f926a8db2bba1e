#pragma once

class Preferences;

// Copies the settings of the application's former identity into the current preferences,
// once. Only keys the current preferences do not hold are copied; the flag
// "kelo.migratedFromVira" is set afterwards, also when there was nothing to migrate.
// `former` is null when the former settings do not exist. Returns the number of keys copied.
int migrateFormerPreferences(Preferences& current, const Preferences* former);
