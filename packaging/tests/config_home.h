#pragma once

// A settings folder of the test's own: XDG_CONFIG_HOME points into a temporary folder for the
// test's length, so no test reads or writes the real ~/.config/vistrel. The program's file is
// <folder>/vistrel/<program>.conf.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include "packaging/config_file.h"

namespace packaging::testing_support {

class ConfigHomeTest : public testing::Test {
protected:
    explicit ConfigHomeTest(QString program) : program_(std::move(program)) {}

    void SetUp() override {
        ASSERT_TRUE(home_.isValid());
        qputenv("XDG_CONFIG_HOME", home_.path().toUtf8());
    }
    void TearDown() override { qunsetenv("XDG_CONFIG_HOME"); }

    [[nodiscard]] QString path() const {
        return home_.path() + QStringLiteral("/vistrel/") + program_ + QStringLiteral(".conf");
    }
    // Writes the program's file as it stands, whatever it holds.
    void put(const QByteArray& bytes) {
        QDir().mkpath(home_.path() + QStringLiteral("/vistrel"));
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    // The file's values as the programs read them.
    [[nodiscard]] ConfigText file() const { return readConfigFile(path(), program_).values; }

    QTemporaryDir home_;
    QString program_;
};

}  // namespace packaging::testing_support
