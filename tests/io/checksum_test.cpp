// The checksum front end and the routines behind it: the published examples, Python's results over
// generated messages, keys and texts, the argument rules, and a provider that refuses a step.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "io/io_test.h"
#include "runtime/datatypes/rtwords.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/io/checksum.h"
#include "support/fixtures.h"
#include "support/values.h"

namespace {

#include "fixtures/digests.inc"

using test::push_binary;
using test::push_text;
using test::push_word;

std::string binary_hex(const cell* b)
{
    EXPECT_EQ(cell_type(b), TYPE_BINARY);
    return test::binary_hex(b);
}

std::string bytes_of(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

int32_t method_of(const std::string& name)
{
    const std::pair<const char*, int32_t> methods[] = {{"tcp", METHOD_TCP},       {"crc32", METHOD_CRC32},
                                                        {"adler32", METHOD_ADLER32}, {"md5", METHOD_MD5},
                                                        {"sha1", METHOD_SHA1},       {"sha256", METHOD_SHA256},
                                                        {"sha384", METHOD_SHA384},   {"sha512", METHOD_SHA512}};
    for (auto& m : methods)
        if (name == m.first) return m.second;
    return METHOD_NONE;
}

class Checksum : public test::StackTest {
protected:
    // checksum data method (/with spec when spec is given): the result cell.
    cell* run(cell* data, const char* method, cell* spec = nullptr)
    {
        checksum::native(data, push_word(method), spec);
        return data;
    }
    std::string digest(const std::string& data, const char* method) { return binary_hex(run(push_binary(data), method)); }
};

TEST_F(Checksum, IntegerMethodsGiveTheKnownSums)
{
    struct row {
        const char* what;
        cell* (*data)();
        const char* method;
        int32_t expected;
    };
    const row rows[] = {
        {"crc32 of no text", [] { return push_text(""); }, "crc32", 0},
        {"crc32 of a", [] { return push_text("a"); }, "crc32", -390611389},
        {"crc32 of abc", [] { return push_text("abc"); }, "crc32", 891568578},
        {"crc32 from the binary's index", [] { return push_binary("abc", 1); }, "crc32", -1029100744},
        {"adler32 of abc", [] { return push_text("abc"); }, "adler32", 38600999},
        {"tcp of RFC 1071's example", [] { return push_binary(std::string("\x00\x01\xF2\x03\xF4\xF5\xF6\xF7", 8)); }, "tcp", 8717},
        {"tcp pads an odd byte on the right", [] { return push_binary("\x01"); }, "tcp", 65279},
        {"tcp of nothing", [] { return push_binary(""); }, "tcp", 65535},
        {"an index past the tail reads nothing", [] { return push_binary("abc", 7); }, "crc32", 0},
    };
    for (const row& r : rows) {
        cell* result = run(r.data(), r.method);
        ASSERT_EQ(cell_type(result), TYPE_INTEGER) << r.what;
        EXPECT_EQ(int32_t(result->data2), r.expected) << r.what;
    }
}

TEST_F(Checksum, DigestsMatchThePublishedExamples)
{
    const std::string a448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    const std::string a896 = "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";
    const std::string million(1000000, 'a');
    struct row {
        const char* method;
        const std::string& data;
        const char* expected;
    };
    const std::string md5_texts[] = {"", "a", "abc", "message digest", "abcdefghijklmnopqrstuvwxyz",
                                     "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
                                     "12345678901234567890123456789012345678901234567890123456789012345678901234567890"};
    const row rows[] = {
        {"md5", md5_texts[0], "D41D8CD98F00B204E9800998ECF8427E"},
        {"md5", md5_texts[1], "0CC175B9C0F1B6A831C399E269772661"},
        {"MD5", md5_texts[2], "900150983CD24FB0D6963F7D28E17F72"},
        {"md5", md5_texts[3], "F96B697D7CB7938D525A2F31AAF161D0"},
        {"md5", md5_texts[4], "C3FCD3D76192E4007DFB496CCA67E13B"},
        {"md5", md5_texts[5], "D174AB98D277D9F5A5611C2C9F419D9F"},
        {"md5", md5_texts[6], "57EDF4A22BE3C955AC49DA2E2107B67A"},
        {"sha1", md5_texts[2], "A9993E364706816ABA3E25717850C26C9CD0D89D"},
        {"sha1", a448, "84983E441C3BD26EBAAE4AA1F95129E5E54670F1"},
        {"sha256", md5_texts[2], "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD"},
        {"Sha256", a448, "248D6A61D20638B8E5C026930C3E6039A33CE45964FF2167F6ECEDD419DB06C1"},
        {"sha384", md5_texts[2],
         "CB00753F45A35E8BB5A03D699AC65007272C32AB0EDED1631A8B605A43FF5BED8086072BA1E7CC2358BAECA134C825A7"},
        {"sha384", a896,
         "09330C33F71147E83D192FC782CD1B4753111B173B3B05D22FA08086E3B0F712FCC7C71A557E2DB966C3E9FA91746039"},
        {"sha512", md5_texts[2],
         "DDAF35A193617ABACC417349AE20413112E6FA4E89A97EA20A9EEEE64B55D39A2192992A274FC1A836BA3C23A3FEEBBD454D4423643CE80E2A9AC94FA54CA49F"},
        {"sha512", a896,
         "8E959B75DAE313DA8CF4F72814FC143F8F7779C6EB9F7FA17299AEADB6889018501D289E4900F7E4331B99DEC4B5433AC7D329EEB6DD26545E96E55B874BE909"},
        {"md5", million, "7707D6AE4E027C70EEA2A935C2296F21"},
        {"sha1", million, "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F"},
        {"sha256", million, "CDC76E5C9914FB9281A1C7E284D73E67F1809A48A497200E046D39CCC7112CD0"},
        {"sha384", million,
         "9D0E1809716474CB086E834E310A4A1CED149E9C00F248527972CEC5704C2A5B07B8B3DC38ECC4EBAE97DDD87F3D8985"},
        {"sha512", million,
         "E718483D0CE769644E2E42C7BC15B4638E1F98B13B2044285632A803AFA973EBDE0FF244877EA60A4CB0432CE577C31BEB009C5C2C49AA2E4EADB217AD8CC09B"},
    };
    for (const row& r : rows) EXPECT_EQ(digest(r.data, r.method), r.expected) << r.method << " of " << r.data.size() << " bytes";
}

TEST_F(Checksum, HmacMatchesRfc2202AndRfc4231)
{
    std::string counting;
    for (char c = 1; c <= 25; c++) counting += c;
    const std::string hi = "Hi There", jefe = "what do ya want for nothing?", dd(50, '\xDD'), cd(50, '\xCD'),
                      truncation = "Test With Truncation",
                      big_key = "Test Using Larger Than Block-Size Key - Hash Key First",
                      big_both = "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
                      big_4231 = "This is a test using a larger than block-size key and a larger than block-size data. "
                                 "The key needs to be hashed before being used by the HMAC algorithm.";
    struct row {
        const char* method;
        std::string key;
        const std::string& data;
        const char* expected;
    };
    const row rows[] = {
        {"md5", std::string(16, '\x0B'), hi, "9294727A3638BB1C13F48EF8158BFC9D"},
        {"md5", "Jefe", jefe, "750C783E6AB0B503EAA86E310A5DB738"},
        {"md5", std::string(16, '\xAA'), dd, "56BE34521D144C88DBB8C733F0E8B3F6"},
        {"md5", counting, cd, "697EAF0ACA3A3AEA3A75164746FFAA79"},
        {"md5", std::string(16, '\x0C'), truncation, "56461EF2342EDC00F9BAB995690EFD4C"},
        {"md5", std::string(80, '\xAA'), big_key, "6B1AB7FE4BD7BF8F0B62E6CE61B9D0CD"},
        {"md5", std::string(80, '\xAA'), big_both, "6F630FAD67CDA0EE1FB1F562DB3AA53E"},
        {"sha1", std::string(20, '\x0B'), hi, "B617318655057264E28BC0B6FB378C8EF146BE00"},
        {"sha1", "Jefe", jefe, "EFFCDF6AE5EB2FA2D27416D5F184DF9C259A7C79"},
        {"sha1", std::string(20, '\xAA'), dd, "125D7342B9AC11CD91A39AF48AA17B4F63F175D3"},
        {"sha1", counting, cd, "4C9007F4026250C6BC8414F9BF50C86C2D7235DA"},
        {"sha1", std::string(20, '\x0C'), truncation, "4C1A03424B55E07FE7F27BE1D58BB9324A9A5A04"},
        {"sha1", std::string(80, '\xAA'), big_key, "AA4AE5E15272D00E95705637CE8A3B55ED402112"},
        {"sha1", std::string(80, '\xAA'), big_both, "E8E99D0F45237D786D6BBAA7965C7808BBFF1A91"},
        {"sha256", std::string(20, '\x0B'), hi, "B0344C61D8DB38535CA8AFCEAF0BF12B881DC200C9833DA726E9376C2E32CFF7"},
        {"sha256", "Jefe", jefe, "5BDCC146BF60754E6A042426089575C75A003F089D2739839DEC58B964EC3843"},
        {"sha256", std::string(20, '\xAA'), dd, "773EA91E36800E46854DB8EBD09181A72959098B3EF8C122D9635514CED565FE"},
        {"sha256", counting, cd, "82558A389A443C0EA4CC819899F2083A85F0FAA3E578F8077A2E3FF46729665B"},
        {"sha256", std::string(20, '\x0C'), truncation, "A3B6167473100EE06E0C796C2955552BFA6F7C0A6A8AEF8B93F860AAB0CD20C5"},
        {"sha256", std::string(131, '\xAA'), big_key, "60E431591EE0B67F0D8A26AACBF5B77F8E0BC6213728C5140546040F0EE37F54"},
        {"sha256", std::string(131, '\xAA'), big_4231, "9B09FFA71B942FCB27635FBCD5B0E944BFDC63644F0713938A7F51535C3A35E2"},
        {"sha384", std::string(20, '\x0B'), hi,
         "AFD03944D84895626B0825F4AB46907F15F9DADBE4101EC682AA034C7CEBC59CFAEA9EA9076EDE7F4AF152E8B2FA9CB6"},
        {"sha384", "Jefe", jefe,
         "AF45D2E376484031617F78D2B58A6B1B9C7EF464F5A01B47E42EC3736322445E8E2240CA5E69E2C78B3239ECFAB21649"},
        {"sha384", std::string(20, '\xAA'), dd,
         "88062608D3E6AD8A0AA2ACE014C8A86F0AA635D947AC9FEBE83EF4E55966144B2A5AB39DC13814B94E3AB6E101A34F27"},
        {"sha384", counting, cd,
         "3E8A69B7783C25851933AB6290AF6CA77A9981480850009CC5577C6E1F573B4E6801DD23C4A7D679CCF8A386C674CFFB"},
        {"sha384", std::string(20, '\x0C'), truncation,
         "3ABF34C3503B2A23A46EFC619BAEF897F4C8E42C934CE55CCBAE9740FCBC1AF4CA62269E2A37CD88BA926341EFE4AEEA"},
        {"sha384", std::string(131, '\xAA'), big_key,
         "4ECE084485813E9088D2C63A041BC5B44F9EF1012A2B588F3CD11F05033AC4C60C2EF6AB4030FE8296248DF163F44952"},
        {"sha384", std::string(131, '\xAA'), big_4231,
         "6617178E941F020D351E2F254E8FD32C602420FEB0B8FB9ADCCEBB82461E99C5A678CC31E799176D3860E6110C46523E"},
        {"sha512", std::string(20, '\x0B'), hi,
         "87AA7CDEA5EF619D4FF0B4241A1D6CB02379F4E2CE4EC2787AD0B30545E17CDEDAA833B7D6B8A702038B274EAEA3F4E4BE9D914EEB61F1702E696C203A126854"},
        {"sha512", "Jefe", jefe,
         "164B7A7BFCF819E2E395FBE73B56E0A387BD64222E831FD610270CD7EA2505549758BF75C05A994A6D034F65F8F0E6FDCAEAB1A34D4A6B4B636E070A38BCE737"},
        {"sha512", std::string(20, '\xAA'), dd,
         "FA73B0089D56A284EFB0F0756C890BE9B1B5DBDD8EE81A3655F83E33B2279D39BF3E848279A722C806B485A47E67C807B946A337BEE8942674278859E13292FB"},
        {"sha512", counting, cd,
         "B0BA465637458C6990E5A8C5F61D4AF7E576D97FF94B872DE76F8050361EE3DBA91CA5C11AA25EB4D679275CC5788063A5F19741120C4F2DE2ADEBEB10A298DD"},
        {"sha512", std::string(20, '\x0C'), truncation,
         "415FAD6271580A531D4179BC891D87A650188707922A4FBB36663A1EB16DA008711C5B50DDD0FC235084EB9D3364A1454FB2EF67CD1D29FE6773068EA266E96B"},
        {"sha512", std::string(131, '\xAA'), big_key,
         "80B24263C7C1A3EBB71493C1DD7BE8B49B46D1F41B4AEEC1121B013783F8F3526B56D037E05F2598BD0FD2215D6A1E5295E64F73F63F0AEC8B915A985D786598"},
        {"sha512", std::string(131, '\xAA'), big_4231,
         "E37B6A775DC87DBAA4DFA9F96E5E3FFDDEBD71F8867289865DF5A32D20CDC944B6022CAC3C4982B10D5EEB55C3E4DE15134676FB6DE0446065C97440FA8C6A58"},
    };
    for (const row& r : rows) {
        // The key as a binary! here, as text in the Jefe rows: both are HMAC keys.
        cell* data = push_binary(r.data);
        cell* key = r.key == "Jefe" ? push_text(r.key) : push_binary(r.key);
        EXPECT_EQ(binary_hex(run(data, r.method, key)), r.expected) << r.method << " key of " << r.key.size();
    }
}

TEST_F(Checksum, RoutinesMatchPythonOverMessagesAndKeys)
{
    std::vector<uint8_t> message = fixture::message_bytes(1000000), key = fixture::key_bytes(129);
    for (const fixture::digest_case& c : digest_cases) {
        int32_t code = method_of(c.method);
        std::string got;
        uint32_t n = c.message_length;
        char hex[9];
        if (code == METHOD_CRC32) std::snprintf(hex, sizeof hex, "%08X", crc32(message.data(), n)), got = hex;
        else if (code == METHOD_ADLER32) std::snprintf(hex, sizeof hex, "%08X", adler32(message.data(), n)), got = hex;
        else if (code == METHOD_TCP) std::snprintf(hex, sizeof hex, "%04X", tcp_checksum(message.data(), n)), got = hex;
        else {
            uint8_t out[DIGEST_MAX];
            if (c.key_length < 0) crypto_digest(message.data(), n, code, out);
            else hmac_digest(message.data(), n, key.data(), uint32_t(c.key_length), code, out);
            got = fixture::to_hex(out, hash_size(code));
        }
        EXPECT_EQ(got, c.result) << c.method << " of " << n << " bytes, key " << c.key_length;
    }
}

TEST_F(Checksum, TextIsDigestedAsUtf8WhateverItsUnitWidth)
{
    std::vector<uint8_t> keys = fixture::key_bytes(129);
    std::vector<uint32_t> units;
    for (const fixture::text_digest_case& c : text_digest_cases) {
        cell* text = push_text(bytes_of(fixture::from_hex(c.utf8)));
        units.push_back(series_unit(series_of(text->data2)));
        cell* key = c.key_length < 0 ? nullptr : push_binary(std::string(keys.begin(), keys.begin() + c.key_length));
        EXPECT_EQ(binary_hex(run(text, c.method, key)), c.result) << c.method << " key " << c.key_length;
    }
    // The three texts load as strings of one, two and four bytes a character.
    EXPECT_NE(std::find(units.begin(), units.end(), 1u), units.end());
    EXPECT_NE(std::find(units.begin(), units.end(), 2u), units.end());
    EXPECT_NE(std::find(units.begin(), units.end(), 4u), units.end());
}

TEST_F(Checksum, DataInABufferThatMovesIsReadAfterTheResultIsMade)
{
    // Under KIV_GC_STRESS the data and the key move at each allocation; the result must still be
    // the digest of what they hold.
    const uint8_t* moving = test::moving_bytes("what do ya want for nothing?");
    (void)moving;
    cell* data = stack::top() - 1;
    cell* key = push_text("Jefe");
    EXPECT_EQ(binary_hex(run(data, "md5", key)), "750C783E6AB0B503EAA86E310A5DB738");
    test::moving_bytes("abc");
    EXPECT_EQ(binary_hex(run(stack::top() - 1, "sha1")), "A9993E364706816ABA3E25717850C26C9CD0D89D");
}

TEST_F(Checksum, ArgumentRulesRaiseTheirErrors)
{
    constexpr uint32_t INVALID_ARG = ERR_SCRIPT * 100 + err::INVALID_ARG;
    constexpr uint32_t REFINE = ERR_SCRIPT * 100 + err::INVALID_REFINE_ARG;
    constexpr uint32_t NOT_DONE = ERR_INTERNAL * 100 + err::NOT_DONE;
    struct row {
        const char* what;
        cell* (*data)();
        const char* method;
        cell* (*spec)();
        uint32_t expected;
    };
    auto text = [] { return push_text("abc"); };
    auto key = [] { return push_text("k"); };
    const row rows[] = {
        {"a key for crc32", text, "crc32", key, REFINE},
        {"a key for tcp", text, "tcp", key, REFINE},
        {"a key for adler32", text, "adler32", key, REFINE},
        {"hash without a size", text, "hash", nullptr, REFINE},
        {"hash with a key", text, "hash", key, REFINE},
        {"an unknown method", text, "sha3", nullptr, INVALID_ARG},
        {"data of another type", [] { return stack::push(&none_value); }, "md5", nullptr, INVALID_ARG},
        {"a key of another type", text, "md5", [] { return stack::push(&none_value); }, INVALID_ARG},
        {"a hash table size", text, "md5", [] { cell n = test::integer(10); return stack::push(&n); }, NOT_DONE},
        {"a hash table size for hash", text, "hash", [] { cell n = test::integer(10); return stack::push(&n); }, NOT_DONE},
    };
    for (const row& r : rows) {
        cell* data = r.data();
        cell* method = push_word(r.method);
        cell* spec = r.spec ? r.spec() : nullptr;
        EXPECT_EQ(raised([&] { checksum::native(data, method, spec); }), r.expected) << r.what;
    }
    // The refinement errors name /with and the method.
    cell* data = text();
    cell* method = push_word("crc32");
    ASSERT_EQ(raised([&] { checksum::native(data, method, key()); }), REFINE);
    const raised_error& e = raised_error_get();
    ASSERT_EQ(e.arg_count, 2u);
    EXPECT_EQ(cell_type(&e.args[0]), TYPE_REFINEMENT);
    EXPECT_EQ(e.args[0].data2, rt_refinement_word(REF_WITH)->data2);
    EXPECT_EQ(symbol::resolve(e.args[1].data2), symbol::resolve(method->data2));
}

TEST_F(Checksum, EveryRefusedProviderStepRaisesFeatureNotAvailable)
{
    constexpr uint32_t FEATURE_NA = ERR_INTERNAL * 100 + err::FEATURE_NA;
    struct row {
        const char* what;
        void (*refuse)(checksum::crypto_calls& c);
    };
    const row rows[] = {
        {"create", [](checksum::crypto_calls& c) { c.create_hash = [](uintptr_t, uint32_t, uintptr_t*) { return 0; }; }},
        {"hash data", [](checksum::crypto_calls& c) { c.hash_data = [](uintptr_t, const uint8_t*, uint32_t) { return 0; }; }},
        {"read value", [](checksum::crypto_calls& c) { c.get_hash_value = [](uintptr_t, uint8_t*, uint32_t*) { return 0; }; }},
        {"short value",
         [](checksum::crypto_calls& c) {
             c.get_hash_value = [](uintptr_t h, uint8_t* out, uint32_t* n) {
                 int ok = checksum::system_calls().get_hash_value(h, out, n);
                 *n -= 1;
                 return ok;
             };
         }},
        {"destroy", [](checksum::crypto_calls& c) { c.destroy_hash = [](uintptr_t) { return 0; }; }},
    };
    const uint8_t text[] = "abc";
    for (const row& r : rows) {
        r.refuse(checksum::calls);
        uint8_t out[DIGEST_MAX];
        EXPECT_EQ(test::raised([&] { crypto_digest(text, 3, METHOD_SHA256, out); }), FEATURE_NA) << r.what;
        EXPECT_EQ(test::raised([&] { hmac_digest(text, 3, text, 3, METHOD_MD5, out); }), FEATURE_NA) << r.what;
        checksum::calls = checksum::system_calls();
    }
    checksum::calls.gen_random = [](uintptr_t, uint8_t*, uint32_t) { return 0; };
    uint8_t bytes[4];
    EXPECT_EQ(test::raised([&] { secure_random_bytes(bytes, 4); }), FEATURE_NA);
    checksum::calls = checksum::system_calls();
    EXPECT_EQ(test::raised([&] { secure_random_bytes(bytes, 4); }), 0u);
}

}  // namespace
