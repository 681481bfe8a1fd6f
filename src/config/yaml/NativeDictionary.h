#pragma once

#include <QString>
#include <QStringView>
#include <cstddef>
#include <initializer_list>
#include <optional>
#include <utility>
#include <vector>

namespace tarnwick {

class NativeValue;

// The dictionary of a plain value: entries kept sorted by key in one contiguous block. Profiles hold
// tens of thousands of small dictionaries; a node-based map cost an allocation per entry to build and
// to free, and a pointer chase per entry to serialise. Lookups are binary searches.
//
// Like std::vector (and unlike std::map), inserting or erasing invalidates references to the other
// entries of the same dictionary.
class NativeDictionary final
{
public:
    using value_type = std::pair<QString, NativeValue>;
    using iterator = std::vector<value_type>::iterator;
    using const_iterator = std::vector<value_type>::const_iterator;

    NativeDictionary();
    // Of equal keys the first is kept, as std::map's initializer list does.
    NativeDictionary(std::initializer_list<value_type> entries);
    NativeDictionary(const NativeDictionary& other);
    NativeDictionary(NativeDictionary&& other) noexcept;
    NativeDictionary& operator=(const NativeDictionary& other);
    NativeDictionary& operator=(NativeDictionary&& other) noexcept;
    ~NativeDictionary();

    // Entries in any order; of equal keys the last is kept (a later key replaces an earlier one).
    static NativeDictionary fromEntries(std::vector<value_type> entries);

    qsizetype size() const;
    bool empty() const;
    void clear();

    iterator begin();
    iterator end();
    const_iterator begin() const;
    const_iterator end() const;

    iterator find(QStringView key);
    const_iterator find(QStringView key) const;
    bool contains(QStringView key) const;

    // The value under `key`, inserted as null when absent.
    NativeValue& operator[](const QString& key);
    // Sets the value under `key`; the bool says whether the key was new.
    std::pair<iterator, bool> insert_or_assign(const QString& key, NativeValue value);
    // Inserts only when `key` is absent; the bool says whether it was.
    std::pair<iterator, bool> try_emplace(const QString& key, NativeValue value);
    std::pair<iterator, bool> emplace(const QString& key, NativeValue value);
    // Removes `key` and hands its value over, if present.
    std::optional<NativeValue> take(QStringView key);
    // Adds every entry of `other` whose key this dictionary lacks (in one merge pass).
    void insertMissing(NativeDictionary other);

    bool operator==(const NativeDictionary& other) const;

private:
    const_iterator lowerBound(QStringView key) const;
    iterator lowerBound(QStringView key);

    std::vector<value_type> m_entries;
};

} // namespace tarnwick
