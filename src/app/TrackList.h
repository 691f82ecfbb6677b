// A read-only list of tracks that may be rows of a catalog held elsewhere.
//
// The visible list of a large library is most of its catalog, in catalog or
// shuffled order. Copying a hundred thousand tracks (five shared texts each,
// scattered over the heap) for every keystroke costs more than the search
// itself, so a list can instead point into an immutable catalog it shares
// and keep only the row of each element. Such a list sees exactly the rows
// it was made from, whatever becomes of the catalog shown afterwards.
//
// A list may also own its tracks (made from a vector); both kinds read alike.
// Elements are never changed in place: a changed list is a new list.
#pragma once

#include "app/Records.h"

#include <algorithm>
#include <compare>
#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <vector>

namespace ql {

class TrackList {
public:
    using Rows = std::shared_ptr<const std::vector<Track>>;

    class const_iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = Track;
        using difference_type = std::ptrdiff_t;
        using pointer = const Track*;
        using reference = const Track&;

        const_iterator() = default;
        const_iterator(const TrackList* list, std::size_t at) : m_list(list), m_at(at) {}
        reference operator*() const { return (*m_list)[m_at]; }
        pointer operator->() const { return &(*m_list)[m_at]; }
        reference operator[](difference_type n) const { return (*m_list)[m_at + n]; }
        const_iterator& operator++() { return ++m_at, *this; }
        const_iterator operator++(int) { return {m_list, m_at++}; }
        const_iterator& operator--() { return --m_at, *this; }
        const_iterator operator--(int) { return {m_list, m_at--}; }
        const_iterator& operator+=(difference_type n) { return m_at += n, *this; }
        const_iterator& operator-=(difference_type n) { return m_at -= n, *this; }
        friend const_iterator operator+(const_iterator i, difference_type n) { return i += n; }
        friend const_iterator operator+(difference_type n, const_iterator i) { return i += n; }
        friend const_iterator operator-(const_iterator i, difference_type n) { return i -= n; }
        friend difference_type operator-(const const_iterator& a, const const_iterator& b) {
            return difference_type(a.m_at) - difference_type(b.m_at);
        }
        friend bool operator==(const const_iterator& a, const const_iterator& b) {
            return a.m_at == b.m_at;
        }
        friend auto operator<=>(const const_iterator& a, const const_iterator& b) {
            return a.m_at <=> b.m_at;
        }

    private:
        const TrackList* m_list = nullptr;
        std::size_t m_at = 0;
    };
    using iterator = const_iterator;
    using value_type = Track;
    using size_type = std::size_t;

    TrackList() = default;
    // A list of its own tracks, in their order.
    TrackList(std::vector<Track> tracks)
        : m_rows(std::make_shared<const std::vector<Track>>(std::move(tracks))),
          m_size(m_rows->size()), m_whole(true) {}
    TrackList(std::initializer_list<Track> tracks) : TrackList(std::vector<Track>(tracks)) {}
    // The rows of `rows` at `at`, in that order; every index is a valid row.
    TrackList(Rows rows, std::vector<std::size_t> at)
        : m_rows(std::move(rows)), m_at(std::move(at)), m_size(m_at.size()) {}

    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    const Track& operator[](std::size_t i) const { return (*m_rows)[m_whole ? i : m_at[i]]; }
    const Track& front() const { return (*this)[0]; }
    const Track& back() const { return (*this)[m_size - 1]; }
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, m_size}; }

    // The rows the list reads and the row of its element i, for a list made
    // of some of its elements that shares the same rows.
    const Rows& rows() const { return m_rows; }
    std::size_t rowOf(std::size_t i) const { return m_whole ? i : m_at[i]; }

    // A copy of the tracks, in list order.
    std::vector<Track> tracks() const { return {begin(), end()}; }

    friend bool operator==(const TrackList& a, const TrackList& b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
    }
    friend bool operator==(const TrackList& a, const std::vector<Track>& b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
    }

private:
    Rows m_rows;                   // null only for the empty list
    std::vector<std::size_t> m_at; // the row of each element, unless m_whole
    std::size_t m_size = 0;
    bool m_whole = false; // the list is m_rows itself, in order
};

} // namespace ql
