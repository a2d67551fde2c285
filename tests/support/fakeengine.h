// FakeEngine: a fixed data-source catalogue for tests of the editor window and the commands on it,
// so that no test depends on the aliases configured on the machine.
#pragma once

#include "data/catalogue.h"

namespace lw::test {

// DEMO lists three tables and stands for the directory /data/demo; SHOP lists one table;
// BROKEN fails on every request, as does any other name.
class FakeEngine : public DataEngine {
public:
    QStringList aliasNames() override { return {"BROKEN", "DEMO", "SHOP"}; }
    QStringList tableNames(const QString& alias) override {
        if (alias == QLatin1String("DEMO"))
            return {"ORDERS.DB", "CLIENTS.DBF", "NOTES"};
        if (alias == QLatin1String("SHOP"))
            return {"ORDERS.DB"};
        throw EngineError("cannot open " + alias.toStdString());
    }
    QStringList aliasParameters(const QString& alias) override {
        if (alias == QLatin1String("demo"))
            return {"PATH=/data/demo"};
        throw EngineError("no alias " + alias.toStdString());
    }
};

} // namespace lw::test
