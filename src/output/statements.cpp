// Output statements: list-directed and formatted, each turning its items into whole records.
#include "output/output.h"
#include "output/unit.h"

#include <new>

namespace rump::output {

namespace {

constexpr int noMemoryForRecord = 41;

// Runs one statement on a unit: holds the unit's lock from the statement's start to its last
// record, and turns a record buffer that cannot grow into its message.
template <typename Body>
void runStatement(int unitNumber, Body body) {
    OutputUnit& unit = unitFor(unitNumber);
    const UnitLock lock(unit);
    if (!beginStatement(unit)) {
        return;
    }
    try {
        body(unit);
    } catch (const std::bad_alloc&) {
        reportIoFailure(noMemoryForRecord, unit);
    }
}

bool isDataItem(const FormatItem& item) {
    return item.kind == FormatItem::Kind::A;
}

} // namespace

void writeListDirected(int unitNumber, std::span<const Item> items) {
    runStatement(unitNumber, [items](OutputUnit& unit) {
        unit.atRecordStart = true;
        for (const Item& item : items) {
            if (unit.atRecordStart) {
                unit.record += ' ';
                unit.atRecordStart = false;
            }
            unit.record += item.characters;
        }
        // A statement without items still writes a record: a single blank.
        if (unit.atRecordStart && unit.record.empty()) {
            unit.record += ' ';
        }
        emitRecord(unit);
    });
}

void writeFormatted(int unitNumber, RecordFormat format, std::span<const Item> items) {
    runStatement(unitNumber, [format, items](OutputUnit& unit) {
        std::size_t next = 0;
        for (const FormatItem& edit : format) {
            // The statement ends at the first data item that finds no item left.
            if (isDataItem(edit) && next == items.size()) {
                break;
            }
            switch (edit.kind) {
            case FormatItem::Kind::Slash:
                emitRecord(unit);
                break;
            case FormatItem::Kind::A:
                unit.record += items[next++].characters;
                break;
            }
        }
        emitRecord(unit);
    });
}

} // namespace rump::output
