#pragma once

// Fault injection at every call: an operation is run once on the in-memory
// component to record the calls it makes, then once more for every call in
// that record with exactly that call failing. The cases come from the record,
// so a new call in the operation is swept without touching its test.

#include "tests/fake/FakeComponent.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTest>

#include <utility>

// The number every injected failure carries: none of the code under test
// raises it by itself, so a failure that arrives with it came from the fault.
inline constexpr ErrorNumber InjectedErrorNumber = ErrorNumber::DivisionByZero;

struct FaultCase
{
    QString operation;       // empty for the run without a fault
    int call = 0;            // 1-based among the calls of operation
    qsizetype position = -1; // index of that call in the fault-free record

    bool none() const { return operation.isEmpty(); }
    QString name() const
    {
        return none() ? QStringLiteral("no fault") : QStringLiteral("%1 call %2").arg(operation).arg(call);
    }
};

// One case for every call of the record, in call order.
inline QList<FaultCase> FaultCasesOf(const QStringList &calls)
{
    QList<FaultCase> cases;
    for (qsizetype position = 0; position < calls.size(); ++position) {
        const QString &operation = calls[position];
        cases.append({operation, int(calls.first(position + 1).count(operation)), position});
    }
    return cases;
}

// prepare(FakeComponent &) sets up a fresh component (acquisitions, files);
// run() performs the operation and returns its outcome (catch what it throws
// and return that); check(const FaultCase &, FakeComponent &, outcome) judges
// one case with QCOMPARE/QVERIFY. check sees the fault-free run first, then
// every fault. Stops at the first case that fails and names it. Returns the
// fault-free record.
template <typename Prepare, typename Run, typename Check>
QStringList SweepFaults(Prepare prepare, Run run, Check check)
{
    const auto runCase = [&](const FaultCase &fault) {
        FakeComponent component;
        prepare(component);
        if (!fault.none())
            component.failAt(fault.operation, fault.call, InjectedErrorNumber);
        auto outcome = run();
        check(fault, component, std::move(outcome));
        if (QTest::currentTestFailed())
            qWarning("Failing case: %s", qPrintable(fault.name()));
        return component.calls();
    };
    const QStringList calls = runCase(FaultCase{});
    for (const FaultCase &fault : FaultCasesOf(calls)) {
        if (QTest::currentTestFailed())
            break;
        runCase(fault);
    }
    return calls;
}
