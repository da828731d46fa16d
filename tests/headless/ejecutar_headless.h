#pragma once
// Runs the headless front end as the program's main does, with what it prints
// captured; afterwards nothing of the run (a worker, a port) may be left behind for
// the next one.

#include "common/global.h"
#include "ui/headless/headless.h"

#include <QString>
#include <QStringList>
#include <QTextStream>
#include <gtest/gtest.h>

inline int ejecutar_headless(QStringList args, const OpcionesHeadless& opciones, QString& outText,
                             QString& errText) {
    outText.clear();
    errText.clear();
    QTextStream out(&outText);
    QTextStream err(&errText);
    args.prepend(QStringLiteral("vtr900prog"));
    const int rc = runHeadless(args, out, err, opciones);
    out.flush();
    err.flush();
    for (const auto& g : grupos_supev)
        EXPECT_EQ(g.load(), nullptr);
    for (const auto& p : puertos)
        EXPECT_EQ(p.load(), nullptr);
    return rc;
}
