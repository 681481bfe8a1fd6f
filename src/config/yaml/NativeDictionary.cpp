#include "NativeDictionary.h"

#include "NativeValue.h"

#include <algorithm>

namespace tarnwick {

namespace {

using Entry = NativeDictionary::value_type;

bool keyLess(const Entry& a, const Entry& b)
{
    return a.first < b.first;
}

// Stable, so that among equal keys the original order survives for the de-duplication that follows.
// Almost every dictionary of a profile has a handful of keys: an insertion sort needs no buffer.
void stableSortByKey(std::vector<Entry>& entries)
{
    constexpr size_t insertionLimit = 24;
    if (entries.size() > insertionLimit) {
        std::stable_sort(entries.begin(), entries.end(), keyLess);
        return;
    }
    for (size_t i = 1; i < entries.size(); ++i) {
        if (!keyLess(entries[i], entries[i - 1]))
            continue;
        Entry moving = std::move(entries[i]);
        size_t j = i;
        do {
            entries[j] = std::move(entries[j - 1]);
            --j;
        } while (j > 0 && keyLess(moving, entries[j - 1]));
        entries[j] = std::move(moving);
    }
}

// Keeps one entry per run of equal keys: the last one, or the first one.
void deduplicate(std::vector<Entry>& entries, bool keepLast)
{
    if (entries.size() < 2)
        return;
    auto out = entries.begin();
    for (auto it = entries.begin(); it != entries.end();) {
        auto runEnd = it + 1;
        while (runEnd != entries.end() && runEnd->first == it->first)
            ++runEnd;
        auto kept = keepLast ? runEnd - 1 : it;
        if (out != kept)
            *out = std::move(*kept);
        ++out;
        it = runEnd;
    }
    entries.erase(out, entries.end());
}

} // namespace

NativeDictionary::NativeDictionary() = default;

NativeDictionary::NativeDictionary(std::initializer_list<value_type> entries) : m_entries(entries)
{
    stableSortByKey(m_entries);
    deduplicate(m_entries, false);
}

NativeDictionary::NativeDictionary(const NativeDictionary& other) = default;
NativeDictionary::NativeDictionary(NativeDictionary&& other) noexcept = default;
NativeDictionary& NativeDictionary::operator=(const NativeDictionary& other) = default;
NativeDictionary& NativeDictionary::operator=(NativeDictionary&& other) noexcept = default;
NativeDictionary::~NativeDictionary() = default;

NativeDictionary NativeDictionary::fromEntries(std::vector<value_type> entries)
{
    NativeDictionary dictionary;
    dictionary.m_entries = std::move(entries);
    stableSortByKey(dictionary.m_entries);
    deduplicate(dictionary.m_entries, true);
    return dictionary;
}

qsizetype NativeDictionary::size() const
{
    return qsizetype(m_entries.size());
}

bool NativeDictionary::empty() const
{
    return m_entries.empty();
}

void NativeDictionary::clear()
{
    m_entries.clear();
}

NativeDictionary::iterator NativeDictionary::begin()
{
    return m_entries.begin();
}

NativeDictionary::iterator NativeDictionary::end()
{
    return m_entries.end();
}

NativeDictionary::const_iterator NativeDictionary::begin() const
{
    return m_entries.begin();
}

NativeDictionary::const_iterator NativeDictionary::end() const
{
    return m_entries.end();
}

NativeDictionary::const_iterator NativeDictionary::lowerBound(QStringView key) const
{
    return std::partition_point(m_entries.begin(), m_entries.end(),
                                [key](const Entry& entry) { return QStringView(entry.first) < key; });
}

NativeDictionary::iterator NativeDictionary::lowerBound(QStringView key)
{
    return m_entries.begin() + (std::as_const(*this).lowerBound(key) - m_entries.cbegin());
}

NativeDictionary::iterator NativeDictionary::find(QStringView key)
{
    const auto it = lowerBound(key);
    return it != m_entries.end() && it->first == key ? it : m_entries.end();
}

NativeDictionary::const_iterator NativeDictionary::find(QStringView key) const
{
    const auto it = lowerBound(key);
    return it != m_entries.end() && it->first == key ? it : m_entries.end();
}

bool NativeDictionary::contains(QStringView key) const
{
    return find(key) != m_entries.end();
}

NativeValue& NativeDictionary::operator[](const QString& key)
{
    return try_emplace(key, NativeValue()).first->second;
}

std::pair<NativeDictionary::iterator, bool> NativeDictionary::insert_or_assign(const QString& key,
                                                                               NativeValue value)
{
    auto it = lowerBound(key);
    if (it != m_entries.end() && it->first == key) {
        it->second = std::move(value);
        return {it, false};
    }
    return {m_entries.emplace(it, key, std::move(value)), true};
}

std::pair<NativeDictionary::iterator, bool> NativeDictionary::try_emplace(const QString& key,
                                                                          NativeValue value)
{
    auto it = lowerBound(key);
    if (it != m_entries.end() && it->first == key)
        return {it, false};
    return {m_entries.emplace(it, key, std::move(value)), true};
}

std::pair<NativeDictionary::iterator, bool> NativeDictionary::emplace(const QString& key, NativeValue value)
{
    return try_emplace(key, std::move(value));
}

std::optional<NativeValue> NativeDictionary::take(QStringView key)
{
    const auto it = find(key);
    if (it == m_entries.end())
        return std::nullopt;
    NativeValue value = std::move(it->second);
    m_entries.erase(it);
    return value;
}

void NativeDictionary::insertMissing(NativeDictionary other)
{
    if (other.m_entries.empty())
        return;
    std::vector<value_type> merged;
    merged.reserve(m_entries.size() + other.m_entries.size());
    auto mine = m_entries.begin();
    auto theirs = other.m_entries.begin();
    while (mine != m_entries.end() || theirs != other.m_entries.end()) {
        if (theirs == other.m_entries.end() || (mine != m_entries.end() && !(theirs->first < mine->first))) {
            if (theirs != other.m_entries.end() && theirs->first == mine->first)
                ++theirs; // present here already: ours wins
            merged.push_back(std::move(*mine++));
        } else {
            merged.push_back(std::move(*theirs++));
        }
    }
    m_entries = std::move(merged);
}

bool NativeDictionary::operator==(const NativeDictionary& other) const
{
    return m_entries == other.m_entries;
}

} // namespace tarnwick
