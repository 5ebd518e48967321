#include "host/store.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "core/log.hpp"
#include "host/private_file.hpp"
#include "host/tests/log_capture.hpp"
#include "host/trust_file.hpp"

namespace mirravale::host {
namespace {

namespace fs = std::filesystem;
using core::TrustedDevice;
using ::testing::HasSubstr;
using ::testing::StartsWith;

class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "mirravale-store-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code ignored;
        fs::permissions(path_, fs::perms::owner_all, ignored);
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

std::string contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void put(const fs::path& path, std::string_view text) {
    std::ofstream(path, std::ios::binary) << text;
}

unsigned mode_of(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

std::vector<std::string> names_in(const fs::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TrustedDevice device(std::uint8_t seed, std::string name, std::uint64_t paired,
                     std::uint64_t seen) {
    TrustedDevice d;
    for (std::size_t i = 0; i < d.device_id.size(); ++i) {
        d.device_id[i] = static_cast<std::uint8_t>(seed + i);
    }
    for (std::size_t i = 0; i < d.token_hash.size(); ++i) {
        d.token_hash[i] = static_cast<std::uint8_t>(seed * 7 + i * 13);
    }
    d.name = std::move(name);
    d.paired_at = paired;
    d.last_seen = seen;
    return d;
}

// ---- trust file layout ------------------------------------------------------------------

TEST(TrustFileWrite, ExactLayout) {
    EXPECT_EQ(write_trusted_devices({}), "[]");
    const std::string expected =
        "[\n"
        "  {\n"
        "    \"device_id\": \"000102030405060708090a0b0c0d0e0f\",\n"
        "    \"name\": \"Ada's \\\"phone\\\"\\n\\u0001 \xc3\xa9t\xc3\xa9\",\n"
        "    \"token_hash\": "
        "\"000d1a2734414e5b6875828f9ca9b6c3d0ddeaf704111e2b3845525f6c798693\",\n"
        "    \"paired_at\": 0,\n"
        "    \"last_seen\": 18446744073709551615\n"
        "  },\n"
        "  {\n"
        "    \"device_id\": \"f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff\",\n"
        "    \"name\": \"\",\n"
        "    \"token_hash\": "
        "\"909daab7c4d1deebf805121f2c394653606d7a8794a1aebbc8d5e2effc091623\",\n"
        "    \"paired_at\": 1700000000,\n"
        "    \"last_seen\": 1700000100\n"
        "  }\n"
        "]";
    EXPECT_EQ(
        write_trusted_devices({device(0, "Ada's \"phone\"\n\x01 \xc3\xa9t\xc3\xa9", 0, UINT64_MAX),
                               device(0xf0, "", 1700000000, 1700000100)}),
        expected);
}

TEST(TrustFileWrite, NameThatIsNotUtf8IsStoredReplaced) {
    const std::string written = write_trusted_devices({device(1, "bad\xff", 1, 2)});
    EXPECT_THAT(written, HasSubstr("\"name\": \"bad\xef\xbf\xbd\""));
    EXPECT_TRUE(read_trusted_devices(written).ok());
}

TEST(TrustFileRead, WrittenListReadsBack) {
    const std::vector<TrustedDevice> devices = {device(3, "A", 1, 2),
                                                device(9, "\xf0\x9f\x93\xb1", 5, 6),
                                                device(200, "C\\D", UINT64_MAX, 0)};
    auto read = read_trusted_devices(write_trusted_devices(devices));
    ASSERT_TRUE(read.ok()) << read.error();
    EXPECT_EQ(*read, devices);
}

// ---- trust file inputs ------------------------------------------------------------------

constexpr std::string_view ID = "000102030405060708090a0b0c0d0e0f";
constexpr std::string_view HASH =
    "000d1a2734414e5b6875828f9ca9b6c3d0ddeaf704111e2b3845525f6c798693";

std::string object_with(std::string_view members) {
    return "[{\"device_id\":\"" + std::string(ID) + "\",\"token_hash\":\"" + std::string(HASH) +
           "\"," + std::string(members) + "}]";
}

struct ReadCase {
    const char* title;
    std::string input;
    std::vector<TrustedDevice> devices;  // when `error` is empty
    std::string error;
};

TEST(TrustFileRead, Table) {
    const TrustedDevice d = device(0, "P", 7, 8);
    const std::string h62 = std::string(HASH.substr(0, 62));
    const std::vector<ReadCase> cases = {
        {"empty list", "[]", {}, ""},
        {"empty list with white space", " \n[ \n]\n", {}, ""},
        {"members in another order",
         "[{\"last_seen\":8,\"name\":\"P\",\"paired_at\":7,\"token_hash\":\"" + std::string(HASH) +
             "\",\"device_id\":\"" + std::string(ID) + "\"}]",
         {d},
         ""},
        {"extra members of every kind ignored",
         object_with("\"x\":{\"device_id\":[1,{\"name\":2}]},\"name\":\"P\",\"y\":null,"
                     "\"paired_at\":7,\"z\":[[]],\"last_seen\":8,\"w\":\"s\""),
         {d},
         ""},
        {"array of five values",
         "[[\"" + std::string(ID) + "\",\"P\",\"" + std::string(HASH) + "\",7,8]]",
         {d},
         ""},
        {"upper-case hex",
         "[[\"000102030405060708090A0B0C0D0E0F\",\"P\",\"" + std::string(HASH) + "\",7,8]]",
         {d},
         ""},
        {"largest time",
         object_with("\"name\":\"P\",\"paired_at\":18446744073709551615,"
                     "\"last_seen\":0"),
         {device(0, "P", UINT64_MAX, 0)},
         ""},
        {"empty file",
         "",
         {},
         "parse error at line 1, column 1: syntax error while parsing value - unexpected end "
         "of input; expected '[', '{', or a literal"},
        {"bare object", "{}", {}, "expected an array of trusted devices at line 1, column 1"},
        {"bare string", "\"x\"", {}, "expected an array of trusted devices at line 1, column 3"},
        {"element not a device",
         "[\n  1\n]",
         {},
         "expected a trusted device (an object or an array of 5 values) at line 2, column 3"},
        {"token hash of 62 characters",
         "[\n  {\n    \"device_id\": \"" + std::string(ID) + "\",\n    \"token_hash\": \"" + h62 +
             "\"\n  }\n]",
         {},
         "expected hex of the right length at line 4, column 82"},
        {"device id of 33 characters",
         "[[\"" + std::string(ID) + "0\",\"P\",\"" + std::string(HASH) + "\",7,8]]",
         {},
         "expected hex of the right length at line 1, column 37"},
        {"device id with a letter beyond f",
         "[[\"g00102030405060708090a0b0c0d0e0f\",\"P\",\"" + std::string(HASH) + "\",7,8]]",
         {},
         "expected hex of the right length at line 1, column 36"},
        {"missing member",
         object_with("\"name\":\"P\",\"paired_at\":7"),
         {},
         "missing member \"last_seen\" at line 1, column 154"},
        {"duplicate member",
         object_with("\"name\":\"P\",\"name\":\"Q\""),
         {},
         "duplicate member \"name\" at line 1, column 146"},
        {"negative time",
         object_with("\"name\":\"P\",\"paired_at\":-1,\"last_seen\":8"),
         {},
         "expected an integer from 0 to 18446744073709551615 for \"paired_at\" at line 1, "
         "column 154"},
        {"time beyond 64 bits",
         object_with("\"name\":\"P\",\"paired_at\":7,\"last_seen\":18446744073709551616"),
         {},
         "expected an integer from 0 to 18446744073709551615 for \"last_seen\" at line 1, "
         "column 186"},
        {"fractional time",
         object_with("\"name\":\"P\",\"paired_at\":7.5,\"last_seen\":8"),
         {},
         "expected an integer from 0 to 18446744073709551615 for \"paired_at\" at line 1, "
         "column 155"},
        {"time as text",
         object_with("\"name\":\"P\",\"paired_at\":\"7\",\"last_seen\":8"),
         {},
         "expected an integer from 0 to 18446744073709551615 for \"paired_at\" at line 1, "
         "column 155"},
        {"name not text",
         object_with("\"name\":[\"P\"],\"paired_at\":7,\"last_seen\":8"),
         {},
         "expected a string for \"name\" at line 1, column 137"},
        {"four values",
         "[[\"" + std::string(ID) + "\",\"P\",\"" + std::string(HASH) + "\",7]]",
         {},
         "expected 5 values in a trusted device, found 4 at line 1, column 110"},
        {"six values",
         "[[\"" + std::string(ID) + "\",\"P\",\"" + std::string(HASH) + "\",7,8,9]]",
         {},
         "expected 5 values in a trusted device at line 1, column 113"},
        {"text after the list",
         "[] x",
         {},
         "parse error at line 1, column 4: syntax error while parsing value - invalid literal; "
         "last read: '[] x'; expected end of input"},
        {"text that is not UTF-8",
         "[{\"name\":\"\xff\"}]",
         {},
         "parse error at line 1, column 11: syntax error while parsing value - invalid string: "
         "ill-formed UTF-8 byte; last read: '\"\xff'"},
    };
    for (const auto& c : cases) {
        const auto read = read_trusted_devices(c.input);
        if (c.error.empty()) {
            ASSERT_TRUE(read.ok()) << c.title << ": " << read.error();
            EXPECT_EQ(*read, c.devices) << c.title;
        } else {
            ASSERT_FALSE(read.ok()) << c.title;
            EXPECT_EQ(read.error(), c.error) << c.title;
        }
    }
}

TEST(TrustFileRead, DeepNestingInAnIgnoredMemberIsFine) {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_TRUE(read_trusted_devices(object_with("\"deep\":" + deep +
                                                 ",\"name\":\"P\",\"paired_at\":7,\"last_seen\":8"))
                    .ok());
}

// ---- the trust store ----------------------------------------------------------------------

TEST(TrustFile, LoadsNothingWhenThereIsNoFile) {
    TempDir dir;
    TrustFile file(dir.path() / TRUSTED_DEVICES_FILE);
    auto loaded = file.load();
    ASSERT_TRUE(loaded.ok()) << loaded.error();
    EXPECT_TRUE(loaded->empty());
}

TEST(TrustFile, ReadFailureIsTheSystemText) {
    TempDir dir;
    fs::create_directory(dir.path() / TRUSTED_DEVICES_FILE);
    auto loaded = TrustFile(dir.path() / TRUSTED_DEVICES_FILE).load();
    ASSERT_FALSE(loaded.ok());
    EXPECT_EQ(loaded.error(), "Is a directory");
}

TEST(TrustFile, SaveWritesTheLayoutOwnerOnlyAndDropsUnknownMembers) {
    TempDir dir;
    const fs::path path = dir.path() / TRUSTED_DEVICES_FILE;
    put(path, object_with("\"name\":\"P\",\"extra\":true,\"paired_at\":7,\"last_seen\":8"));
    TrustFile file(path);
    auto loaded = file.load();
    ASSERT_TRUE(loaded.ok()) << loaded.error();
    ASSERT_TRUE(file.save(*loaded).ok());
    EXPECT_EQ(contents(path), write_trusted_devices({device(0, "P", 7, 8)}));
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"trusted-devices.json"});

    ASSERT_TRUE(file.save({}).ok());
    EXPECT_EQ(contents(path), "[]");
}

TEST(TrustFile, FailedSaveLeavesThePreviousFile) {
    TempDir dir;
    const fs::path path = dir.path() / TRUSTED_DEVICES_FILE;
    TrustFile file(path);
    ASSERT_TRUE(file.save({device(1, "A", 1, 1)}).ok());
    // The companion cannot be opened when a directory holds its name.
    fs::create_directory(dir.path() / "trusted-devices.tmp");
    const auto saved = file.save({});
    ASSERT_FALSE(saved.ok());
    EXPECT_EQ(saved.error(),
              "cannot write " + (dir.path() / "trusted-devices.tmp").string() + ": Is a directory");
    EXPECT_EQ(contents(path), write_trusted_devices({device(1, "A", 1, 1)}));
}

// A child saves two lists in turn until it is killed; whatever the moment, the file holds one
// of them whole.
TEST(TrustFile, KilledWhileSavingNeverLeavesATornFile) {
    TempDir dir;
    const fs::path path = dir.path() / TRUSTED_DEVICES_FILE;
    const std::vector<TrustedDevice> one = {device(1, "one", 1, 1)};
    std::vector<TrustedDevice> many;
    for (std::uint8_t i = 0; i < 40; ++i) {
        many.push_back(device(i, std::string(200, 'x'), i, i));
    }
    ASSERT_TRUE(TrustFile(path).save(one).ok());

    std::mt19937 random(12345);
    std::uniform_int_distribution<int> pause_us(0, 3000);
    for (int round = 0; round < 150; ++round) {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(ready[0]);
            TrustFile file(path);
            for (std::uint64_t n = 0;; ++n) {
                if (!file.save(n % 2 ? one : many).ok()) {
                    ::_exit(1);
                }
                if (n == 0) {
                    (void)!::write(ready[1], "r", 1);
                }
            }
        }
        ::close(ready[1]);
        char byte;
        ASSERT_EQ(::read(ready[0], &byte, 1), 1);  // it has saved once: now in its loop
        ::close(ready[0]);
        ::usleep(static_cast<useconds_t>(pause_us(random)));  // a random moment, not a wait
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the saving child failed";

        auto loaded = TrustFile(path).load();
        ASSERT_TRUE(loaded.ok()) << "round " << round << ": " << loaded.error();
        ASSERT_TRUE(*loaded == one || *loaded == many) << "round " << round;
    }
}

// ---- private write ----------------------------------------------------------------------

TEST(PrivateWrite, CompanionReplacesTheExtension) {
    const std::pair<const char*, const char*> cases[] = {
        {"d/trusted-devices.json", "d/trusted-devices.tmp"},
        {"d/certificate.der", "d/certificate.tmp"},
        {"d/key.der", "d/key.tmp"},
        {"d/host-id", "d/host-id.tmp"},
        {"d/a.b.c", "d/a.b.tmp"},
        {"d/.hidden", "d/.hidden.tmp"},
    };
    for (const auto& [path, companion] : cases) {
        EXPECT_EQ(companion_of(path), fs::path(companion)) << path;
    }
}

TEST(PrivateWrite, NewFileIsOwnerOnlyAndNoCompanionRemains) {
    TempDir dir;
    const fs::path path = dir.path() / "key.der";
    ASSERT_TRUE(write_private(path, "first").ok());
    EXPECT_EQ(mode_of(path), 0600u);
    ASSERT_TRUE(write_private(path, "").ok());
    EXPECT_EQ(contents(path), "");
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"key.der"});
}

TEST(PrivateWrite, LeftOverCompanionIsTruncatedAndMadeOwnerOnly) {
    TempDir dir;
    put(dir.path() / "key.tmp", std::string(1000, 'z'));
    fs::permissions(dir.path() / "key.tmp", fs::perms(0644));
    ASSERT_TRUE(write_private(dir.path() / "key.der", "new").ok());
    EXPECT_EQ(contents(dir.path() / "key.der"), "new");
    EXPECT_EQ(mode_of(dir.path() / "key.der"), 0600u);
}

TEST(PrivateWrite, LinkPlantedAtTheCompanionIsNotFollowed) {
    TempDir dir;
    put(dir.path() / "victim", "keep");
    fs::create_symlink(dir.path() / "victim", dir.path() / "key.tmp");
    const auto written = write_private(dir.path() / "key.der", "secret");
    ASSERT_FALSE(written.ok());
    EXPECT_THAT(written.error(),
                StartsWith("cannot write " + (dir.path() / "key.tmp").string() + ": "));
    EXPECT_EQ(contents(dir.path() / "victim"), "keep");
}

TEST(PrivateWrite, MissingDirectoryNamesTheCompanion) {
    TempDir dir;
    const auto written = write_private(dir.path() / "absent" / "host-id", "x");
    ASSERT_FALSE(written.ok());
    EXPECT_EQ(written.error(), "cannot write " + (dir.path() / "absent" / "host-id.tmp").string() +
                                   ": No such file or directory");
}

// ---- data directory ---------------------------------------------------------------------

TEST(DataDirectory, CreatedWithParentsAndOwnerOnly) {
    TempDir dir;
    const fs::path nested = dir.path() / "a" / "b" / "Mirravale";
    ASSERT_TRUE(prepare_data_directory(nested).ok());
    EXPECT_TRUE(fs::is_directory(nested));
    EXPECT_EQ(mode_of(nested), 0700u);

    fs::permissions(nested, fs::perms(0755));
    ASSERT_TRUE(prepare_data_directory(nested).ok());  // already there is fine
    EXPECT_EQ(mode_of(nested), 0700u);
}

TEST(DataDirectory, FileInTheWay) {
    TempDir dir;
    put(dir.path() / "file", "");
    const std::pair<fs::path, std::string> cases[] = {
        {dir.path() / "file", ": Not a directory"},
        {dir.path() / "file" / "sub", ": Not a directory"},
    };
    for (const auto& [path, reason] : cases) {
        const auto prepared = prepare_data_directory(path);
        ASSERT_FALSE(prepared.ok()) << path;
        EXPECT_EQ(prepared.error(), "cannot create " + path.string() + reason);
    }
}

// Runs `body` in a child that cannot write to `directory` (it runs as nobody when started as
// root, since root writes anywhere) and returns the error text it reports.
template <class Body>
std::string error_without_write_access(const fs::path& directory, Body body) {
    fs::permissions(directory, fs::perms(0555));
    int pipe_ends[2];
    EXPECT_EQ(::pipe(pipe_ends), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe_ends[0]);
        if (::geteuid() == 0 && ::setresuid(65534, 65534, 65534) != 0) {
            ::_exit(2);
        }
        const std::string error = body();
        (void)!::write(pipe_ends[1], error.data(), error.size());
        ::_exit(0);
    }
    ::close(pipe_ends[1]);
    std::string error;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipe_ends[0], buffer, sizeof buffer)) > 0;) {
        error.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipe_ends[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return error;
}

TEST(DataDirectory, NotWritableStopsAtTheFirstCompanion) {
    TempDir dir;
    fs::permissions(dir.path(), fs::perms(0755));
    const fs::path data = dir.path() / "data";
    fs::create_directory(data);
    const std::string error = error_without_write_access(data, [&] {
        auto id = load_host_id(data);
        return id.ok() ? std::string("no error") : id.error();
    });
    EXPECT_EQ(error, "cannot write " + (data / "host-id.tmp").string() + ": Permission denied");
}

// ---- host identifier ----------------------------------------------------------------------

struct HostIdCase {
    const char* title;
    std::string content;
    bool kept;
};

TEST(HostId, KeptOrReplaced) {
    const std::string lower = "00112233445566778899aabbccddeeff";
    const std::string upper = "00112233445566778899AABBCCDDEEFF";
    const std::array<std::uint8_t, 16> expected = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                                   0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
    const HostIdCase cases[] = {
        {"lower case", lower, true},
        {"upper case", upper, true},
        {"mixed case", "00112233445566778899aAbBcCdDeEfF", true},
        {"line feed after", lower + "\n", true},
        {"white space around", " \t\r\n" + lower + " \n\n", true},
        {"Unicode white space around", "\xe3\x80\x80\xc2\xa0" + lower + "\xe2\x80\xa8", true},
        {"31 characters", lower.substr(0, 31), false},
        {"33 characters", lower + "0", false},
        {"not hexadecimal", "0011223344556677889gaabbccddeeff", false},
        {"white space inside", "0011223344556677 8899aabbccddeeff", false},
        {"empty", "", false},
        {"not UTF-8", lower + "\xff", false},
        {"zero-width space is not white space", lower + "\xe2\x80\x8b", false},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const fs::path path = dir.path() / HOST_ID_FILE;
        put(path, c.content);
        auto id = load_host_id(dir.path());
        ASSERT_TRUE(id.ok()) << c.title << ": " << id.error();
        if (c.kept) {
            EXPECT_EQ(*id, expected) << c.title;
            EXPECT_EQ(contents(path), c.content) << c.title << ": must not be rewritten";
        } else {
            const std::string written = contents(path);
            EXPECT_EQ(written.size(), 32u) << c.title;
            EXPECT_EQ(written.find_first_not_of("0123456789abcdef"), std::string::npos) << c.title;
            auto again = load_host_id(dir.path());
            ASSERT_TRUE(again.ok());
            EXPECT_EQ(*again, *id) << c.title << ": the stored identifier is the one returned";
            EXPECT_NE(*id, expected) << c.title;
            EXPECT_EQ(mode_of(path), 0600u) << c.title;
        }
    }
}

TEST(HostId, MissingFileGetsAFreshRandomIdentifier) {
    TempDir first;
    TempDir second;
    auto a = load_host_id(first.path());
    auto b = load_host_id(second.path());
    ASSERT_TRUE(a.ok() && b.ok());
    EXPECT_NE(*a, *b);
    EXPECT_EQ(names_in(first.path()), std::vector<std::string>{"host-id"});
}

// ---- identity -----------------------------------------------------------------------------

// What mirravale::store logs during one test: "level message".
struct StoreLog : testing::LogCapture {
    StoreLog() : LogCapture("mirravale::store", "%l %v") {}
};

TEST(Identity, StoredPairIsUsedAsItIs) {
    TempDir dir;
    put(dir.path() / CERTIFICATE_FILE, "not checked here");
    put(dir.path() / KEY_FILE, std::string("\0k", 2));
    StoreLog log;
    auto identity = load_or_create_identity(dir.path(), "Desk");
    ASSERT_TRUE(identity.ok()) << identity.error();
    EXPECT_EQ(std::string(identity->certificate_der.begin(), identity->certificate_der.end()),
              "not checked here");
    EXPECT_EQ(std::string(identity->key_der.begin(), identity->key_der.end()),
              std::string("\0k", 2));
    EXPECT_EQ(log.lines(), "");
}

TEST(Identity, NewPairWhenEitherFileIsMissing) {
    for (const auto* survivor : {"", "key.der", "certificate.der"}) {
        TempDir dir;
        if (*survivor) {
            put(dir.path() / survivor, "old");
        }
        StoreLog log;
        auto identity = load_or_create_identity(dir.path(), "Desk");
        ASSERT_TRUE(identity.ok()) << identity.error();
        EXPECT_NE(identity->certificate_der, std::vector<std::uint8_t>({'o', 'l', 'd'}));
        EXPECT_EQ(contents(dir.path() / CERTIFICATE_FILE),
                  std::string(identity->certificate_der.begin(), identity->certificate_der.end()));
        EXPECT_EQ(contents(dir.path() / KEY_FILE),
                  std::string(identity->key_der.begin(), identity->key_der.end()));
        EXPECT_EQ(mode_of(dir.path() / KEY_FILE), 0600u);
        EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"certificate.der", "key.der"}));
        EXPECT_EQ(log.lines(), "info created this Mac's Mirravale identity\n") << survivor;

        // Read back, not made again.
        auto again = load_or_create_identity(dir.path(), "Desk");
        ASSERT_TRUE(again.ok());
        EXPECT_EQ(again->certificate_der, identity->certificate_der);
        EXPECT_EQ(again->key_der, identity->key_der);
    }
}

TEST(Identity, KeyThatCannotBeWrittenStopsBeforeTheCertificate) {
    TempDir dir;
    fs::create_directory(dir.path() / "key.tmp");
    auto identity = load_or_create_identity(dir.path(), "Desk");
    ASSERT_FALSE(identity.ok());
    EXPECT_EQ(identity.error(),
              "cannot write " + (dir.path() / "key.tmp").string() + ": Is a directory");
    EXPECT_FALSE(fs::exists(dir.path() / CERTIFICATE_FILE));
}

}  // namespace
}  // namespace mirravale::host
