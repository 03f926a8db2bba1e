#include "core/terminal/TerminalLinks.h"

#include <QSysInfo>
#include <QUrl>

bool isOpenableLink(QStringView uri) {
    const QUrl url(uri.toString(), QUrl::StrictMode);
    if (!url.isValid()) {
        return false;
    }
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) {
        return !url.host().isEmpty();
    }
    if (scheme == QLatin1String("mailto")) {
        return true;
    }
    if (scheme == QLatin1String("file")) {
        // A program on another machine (over ssh) names its own files: opening the same
        // path here would open something else.
        const QString host = url.host();
        return host.isEmpty() ||
               host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
               host.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) == 0;
    }
    return false;
}

std::string TerminalLinkTable::keyOf(std::string_view id, std::string_view uri) {
    // Neither holds a control character, so a line feed cannot be part of either.
    std::string key;
    key.reserve(id.size() + 1 + uri.size());
    key.append(id).append(1, '\n').append(uri);
    return key;
}

int TerminalLinkTable::find(std::string_view id, std::string_view uri) const {
    if (id.empty() || m_byKey.empty()) {
        return kNone;
    }
    const auto found = m_byKey.find(keyOf(id, uri));
    return found == m_byKey.end() ? kNone : found->second;
}

int TerminalLinkTable::add(std::string_view id, std::string_view uri) {
    int index;
    if (!m_free.empty()) {
        index = m_free.back();
        m_free.pop_back();
    } else if (int(m_entries.size()) < kCapacity) {
        index = int(m_entries.size());
        m_entries.emplace_back();
    } else {
        return kNone;
    }
    Entry& entry = m_entries[std::size_t(index)];
    entry.id.assign(id);
    entry.uri.assign(uri);
    entry.references = 0;
    entry.live = true;
    ++m_live;
    if (!id.empty()) {
        m_byKey[keyOf(id, uri)] = index;
    }
    return index;
}

void TerminalLinkTable::free(int index) {
    Entry& entry = m_entries[std::size_t(index)];
    if (!entry.id.empty()) {
        m_byKey.erase(keyOf(entry.id, entry.uri));
    }
    // The strings keep their buffers for the next link.
    entry.id.clear();
    entry.uri.clear();
    entry.references = 0;
    entry.live = false;
    --m_live;
    m_free.push_back(index);
}

void TerminalLinkTable::release(int index, int open) {
    Entry& entry = m_entries[std::size_t(index)];
    if (--entry.references <= 0 && index != open) {
        free(index);
    }
}

void TerminalLinkTable::freeIfUnreferenced(int index) {
    if (m_entries[std::size_t(index)].references <= 0) {
        free(index);
    }
}

void TerminalLinkTable::recount(const std::vector<int>& references, int open) {
    for (int index = 0; index < int(m_entries.size()); ++index) {
        Entry& entry = m_entries[std::size_t(index)];
        if (!entry.live) {
            continue;
        }
        entry.references = references[std::size_t(index)];
        if (entry.references == 0 && index != open) {
            free(index);
        }
    }
}

void TerminalLinkTable::clear() {
    m_entries.clear();
    m_free.clear();
    m_byKey.clear();
    m_live = 0;
}
