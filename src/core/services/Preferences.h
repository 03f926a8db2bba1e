#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>

// The user's preference store: a flat key-value map. Models only touch it when they were
// created with persistence on; with it off they neither read nor write a key.
class Preferences {
public:
    virtual ~Preferences() = default;

    // An invalid QVariant when the key holds nothing.
    virtual QVariant value(const QString& key) const = 0;
    virtual bool contains(const QString& key) const = 0;
    virtual void setValue(const QString& key, const QVariant& value) = 0;
    virtual void remove(const QString& key) = 0;
    virtual void sync() {}
    // The folder holding the store's file, where data too large for a preference is kept in
    // files of its own; empty for a store without one.
    virtual QString folder() const { return {}; }
};

// Preferences kept in a QSettings file. The default location is
// $XDG_CONFIG_HOME/Kelo AI/VELK.conf; the former settings domain read by the one-time
// migration is a second file in the same folder (see formerPreferencesPath()).
class SettingsPreferences : public Preferences {
public:
    SettingsPreferences();  // the application's own preferences file
    explicit SettingsPreferences(const QString& filePath);
    ~SettingsPreferences() override;

    QVariant value(const QString& key) const override;
    bool contains(const QString& key) const override;
    void setValue(const QString& key, const QVariant& value) override;
    void remove(const QString& key) override;
    void sync() override;
    QString folder() const override;

    static QString defaultPath();
    static QString formerPreferencesPath();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// An in-memory store for tests; counts every access so a test can prove that a model with
// persistence off never reads or writes a key.
class MemoryPreferences : public Preferences {
public:
    MemoryPreferences() = default;
    explicit MemoryPreferences(QVariantMap initial) : m_values(std::move(initial)) {}

    QVariant value(const QString& key) const override;
    bool contains(const QString& key) const override;
    void setValue(const QString& key, const QVariant& value) override;
    void remove(const QString& key) override;
    QString folder() const override { return m_folder; }
    // Gives the store a folder, as a preferences file has one.
    void setFolder(const QString& folder) { m_folder = folder; }

    const QVariantMap& values() const { return m_values; }
    int reads() const { return m_reads; }
    int writes() const { return m_writes; }

private:
    QVariantMap m_values;
    QString m_folder;
    mutable int m_reads = 0;
    int m_writes = 0;
};
