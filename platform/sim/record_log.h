// What the simulator keeps of the calls of one kind, for the tests to read
// back in order: the first Max records in fixed static storage, every call
// counted, so that a test sees that more happened than was kept.
#pragma once

namespace Sim {

template <typename Record, unsigned Max>
struct RecordLog {
    static constexpr int Limit = static_cast<int>(Max);
    Record records[Max];
    int total;

    // Counts one call; where its record goes, or nullptr when the log is full.
    Record* add()
    {
        Record* slot = total < Limit ? &records[total] : nullptr;
        ++total;
        return slot;
    }
    int count() const { return total; }
    // The index-th record, or an empty one past what was kept.
    Record at(int index) const { return index < 0 || index >= Limit || index >= total ? Record{} : records[index]; }
    void clear() { total = 0; }
};

} // namespace Sim
