// A table named with a drive letter is the file the file services see under that name: the
// engine's POSIX back end reads drive letters, separators and letter case through the same
// drive table as they do.
#include "table_support.h"

#include "files/files.h"
#include "testdrive.h"

#include <unistd.h>

using namespace engine;
using enginetest::EngineTest;

namespace {

class DrivePaths : public EngineTest {};

} // namespace

TEST_F(DrivePaths, TablesOnAMappedDriveAreTheFilesTheFileServicesSee) {
    testsupport::TestDrive drive('T');
    ASSERT_TRUE(drive.folder("Datos"));
    const auto fields = enginetest::sampleFields();
    Handle t = 0;
    ASSERT_EQ(createTable("t:\\DATOS\\clientes", "", kTypeCdx, kAnsi, fields, t), kOk);
    ASSERT_EQ(closeTable(t), kOk);
    // Made in the existing folder under its own spelling, memo beside it.
    EXPECT_TRUE(drive.exists("Datos/clientes.dbf"));
    EXPECT_TRUE(drive.exists("Datos/clientes.fpt"));
    EXPECT_TRUE(files::FILE("T:\\datos\\CLIENTES.DBF"));

    for (const char* name :
         {"T:\\Datos\\Clientes.dbf", "T:/datos/CLIENTES", "t:\\\\datos\\.\\x\\..\\clientes"}) {
        ASSERT_EQ(openTable(0, name, "", kTypeCdx, kAnsi, 1, 1, kOpenShared, t), kOk) << name;
        EXPECT_EQ(closeTable(t), kOk);
    }

    // A name the file services find nowhere is nowhere for the engine either, and nothing is
    // made under a host name that merely looks like the path.
    EXPECT_NE(openTable(0, "T:\\otros\\clientes", "", kTypeCdx, kAnsi, 1, 1, kOpenShared, t), kOk);
    EXPECT_NE(createTable("Q:\\clientes", "", kTypeCdx, kAnsi, fields, t), kOk);
    EXPECT_NE(createTable("T:\\nohay\\clientes", "", kTypeCdx, kAnsi, fields, t), kOk);
    EXPECT_NE(::access("Q:\\clientes.dbf", F_OK), 0);
    EXPECT_NE(::access("T:\\nohay\\clientes.dbf", F_OK), 0);
    EXPECT_FALSE(drive.exists("nohay"));
}
