// The sample installation.
//
// Demo start date: 2026-01-01 (kDemoStartDate). Every journal holds rows on both sides of it.
//
// Size N scales the installation about linearly; at size 1 the counts are:
//   HOSTS 3 (N+2), keys 1, 2, 4      CONTROLLERS 3 regular (2N+1) + 1 orphan, keys from 101
//   PCN 1 and CINPUTS 2 and SLAVES 2 per regular controller, keys from 201, 301, 401
//   OUTPUTS 3, INPUTS 4, READERS 2 per slave, keys from 501, 601, 701
//   OWNER 8 (6N+2), PRGDEF 6 (6N), macros 4 + 2(N-1), journals 200 + specials (1000N-800)
// Every key sequence has gaps: first, first+1, first+3, first+4, first+6, ...
//
// Where the cases are:
//   - Unknown references (the target does not exist; a transfer writes -1): the orphan
//     controller (last CONTROLLERS row, CT_HS_ID 999999); RD_IN_4 of the first reader;
//     the last AGRIGHTS row (AR_RD_ID 999999); the last MAKROS_RIGHT row (macro 999999);
//     the last line of the first USERS_RD_RIGHTS row ("]999999"); the line "32;0;6;999999;0;2;"
//     of macro 5; EVENTS row 7 (reader 999999).
//   - READERS device columns: the first reader of a slave leaves RD_IN_3, RD_IN_4 (except the
//     very first reader), RD_OUT_IND1..3, RD_OUT_CLOSE NULL; the second leaves RD_IN_2,
//     RD_IN_4, RD_OUT_IND0, RD_OUT_IND2, RD_OUT_IND3 NULL; the last reader has no device at all.
//   - PRGDEF: PD_TYPE cycles through 4, 5, 6, 7, 8 and 2 (2 names no device table).
//   - Macros (MCR_ID 5, 9, 12, 13, then 20.. for larger sizes):
//       5  current format, CR LF: types 6, 7, 8, type 3 (left alone) and type 263 (low byte 7);
//          one line of exactly 20 characters; an unknown reader.
//       9  older format, CR LF: TakeInAT, PutInAT, ResetInAT, ActUUCTime, ResetUU, ActUUReset,
//          EnableAcWish, SetAcMode, ResetAlrm and the unknown PlaySound; one line of exactly
//          21 characters.
//       12 empty MCR_FILL (not NULL).
//       13 both formats, LF-only line ends, no line end after the last line.
//   - MAKROS_RIGHT: every macro for the administrator (1) and the first operator.
//   - INIDATA: sections MAIN (1), USER_CAN_FILTER (2), USER_FILTERS (4), CTRL_FILTERS (5),
//     PRINT (7, Cyrillic two-line text), VIDEO (8), and USERS_RD_RIGHTS from key 20 on, one
//     per operator: lines "[operator]reader", CR LF after every line, the last one included.
//   - OWNER: Cyrillic names (one with an apostrophe, one with Ё); owner 2 (index 1) has a
//     photo of 20424 bytes, owner 4 (index 2) none (NULL), every other owner a photo of
//     200..499 bytes of pseudo-random binary content; OW_ARCHIVE = 1 for index 3, the last
//     owner and every tenth; the others 0.
//   - EVDESC (from the schema script): ED_HARDTYPE 0..8 and 12; (11, 0) and (11, 256) both exist.
//   - EVENTS 1..9, fixed: 1 at 2025-12-31 23:59:59 (before the start date), 2 at exactly
//     2026-01-01 00:00:00, 3 and 4 with EV_ADDCODE = ED_ADDCODE + 256, 5 (code 11, 256) joins
//     two descriptions, 6 has a code without description, 7 an unknown reader, 8 hardware
//     type 12, 9 hardware type 0. ALARM 1..3, fixed: before, at, and after the date with
//     AL_ADDCODE + 256. The bulk rows start at key 101 and run evenly from 2025-10-01 to
//     2026-03-31; every seventh has its additional code raised by 256.
//   - Versions: the older schema has DEPARTMENTS.DP_CODE; the newer has HOSTS.HS_PORT,
//     OPERATORS.OP_EMAIL and OWNERPHOTOS (filled with the photos when the data is newer).
#include "Sample.h"

#include "db/Charset.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <vector>

#ifndef KESTRIX_SOURCE_DIR
#error KESTRIX_SOURCE_DIR must name the source tree
#endif

namespace kestrix::sample {
namespace {

constexpr int kUnknown = 999999;   // a key no table holds

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// SQL literals. Texts are UTF-8 here; the whole script is converted at the end.
std::string Int(long long v) { return std::to_string(v); }
std::string IntOrNull(int v) { return v ? std::to_string(v) : "NULL"; }   // 0 = no device
std::string Str(std::string_view text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += '\'';
        out += c;
    }
    return out + "'";
}
std::string Hex(const std::vector<unsigned char>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out = "x'";
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out + "'";
}
// A text of lines joined by the given line end, as one expression.
std::string Lines(const std::vector<std::string>& lines, std::string_view eol, bool eolAfterLast) {
    std::string sep;
    for (char c : eol) sep += " || ASCII_CHAR(" + std::to_string(static_cast<int>(c)) + ")";
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i) out += sep + " || ";
        out += Str(lines[i]);
    }
    if (eolAfterLast && !lines.empty()) out += sep;
    return lines.empty() ? "''" : out;
}

// Keys with gaps: first, first+1, first+3, first+4, first+6, ...
std::vector<int> Keys(int first, int count) {
    std::vector<int> keys;
    for (int j = 0; j < count; ++j) keys.push_back(first + j + j / 2);
    return keys;
}

// Up to seven keys spread over the list, for the journals' device columns.
std::vector<int> Spread(const std::vector<int>& keys) {
    std::vector<int> picks;
    if (keys.empty()) return picks;
    int n = std::min<int>(7, static_cast<int>(keys.size()));
    for (int t = 0; t < n; ++t) {
        int k = keys[n == 1 ? 0 : t * (static_cast<int>(keys.size()) - 1) / (n - 1)];
        if (std::find(picks.begin(), picks.end(), k) == picks.end()) picks.push_back(k);
    }
    return picks;
}
// DECODE(MOD(i, n), 0, k0, 1, k1, ...) choosing one of the keys by the loop counter.
std::string Pick(const std::vector<int>& keys, const std::string& counter = "i") {
    if (keys.size() == 1) return Int(keys[0]);
    std::string out = "DECODE(MOD(" + counter + ", " + Int(keys.size()) + ")";
    for (std::size_t t = 0; t < keys.size(); ++t) out += ", " + Int(t) + ", " + Int(keys[t]);
    return out + ")";
}

std::vector<unsigned char> Photo(int seed, std::size_t length) {
    std::vector<unsigned char> bytes{0xFF, 0xD8, 0xFF, 0xE0};
    unsigned x = 2463534242u + static_cast<unsigned>(seed) * 7919u;
    while (bytes.size() + 2 < length) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes.push_back(static_cast<unsigned char>(x >> 11));
    }
    bytes.push_back(0xFF);
    bytes.push_back(0xD9);
    return bytes;
}

std::string Pad(std::string text, std::size_t width) {
    while (text.size() < width) text = "0" + text;
    return text;
}

struct Script {
    std::string text;
    void Add(const std::string& line) { text += line + "\n"; }
    void Insert(const std::string& table, const std::string& columns, const std::vector<std::string>& values) {
        std::string v;
        for (const auto& value : values) v += (v.empty() ? "" : ", ") + value;
        Add("INSERT INTO " + table + " (" + columns + ") VALUES (" + v + ");");
    }
};

const char* const kLastNames[] = {"Иванов", "Петрова", "Сидоренко", "Кузнецова", "О'Коннор", "Ёлкина",
                                  "Смирнов", "Щербакова", "Волков", "Лебедева", "Жуков", "Яковлева"};
const char* const kFirstNames[] = {"Алексей", "Мария", "Сергей", "Ольга", "Патрик", "Юлия",
                                   "Дмитрий", "Елена", "Андрей", "Наталья", "Фёдор", "Анна"};
const char* const kMidNames[] = {"Петрович", "Ивановна", "Игоревич", "Сергеевна", "", "Андреевна",
                                 "Олегович", "Викторовна", "Юрьевич", "Павловна", "Ильич", "Борисовна"};
const char* const kGroups[] = {"Администрация", "Охрана", "Сотрудники", "Посетители", "Подрядчики"};
const char* const kDepartments[] = {"Дирекция", "Бухгалтерия", "Отдел кадров", "Склад", "ИТ-отдел"};
const char* const kPosts[] = {"Инженер", "Бухгалтер", "Охранник", "Кладовщик", "Директор"};

// Event kinds of the source's EVDESC rows that the bulk journal rows use: code, additional
// code, hardware type. (11, *) is left to the fixed rows: it matches two descriptions.
struct Kind {
    int code, addcode, hardtype;
};
const Kind kEventKinds[] = {{1, 0, 0}, {2, 0, 1}, {3, 0, 2}, {4, 0, 3}, {5, 0, 4}, {5, 1, 4},
                            {6, 0, 5}, {7, 0, 6}, {8, 0, 7}, {9, 0, 8}, {10, 0, 12}};
// ACR$EVDESC codes.
const int kAcrCodes[] = {1, 2, 3, 5};

class Builder {
public:
    Builder(int size, bool newer) : n_(size), newer_(newer) {}

    std::string Build() {
        Layout();
        Reference();
        Equipment();
        Schedules();
        Macros();
        People();
        IniData();
        Journals();
        Generators();
        s_.Add("COMMIT;");
        return ToCp1251(s_.text);
    }

private:
    void Layout() {
        hosts_ = Keys(1, n_ + 2);
        controllers_ = Keys(101, 2 * n_ + 1);
        orphan_ = controllers_.back() + 2;
        pcn_ = Keys(201, static_cast<int>(controllers_.size()));
        cinputs_ = Keys(301, 2 * static_cast<int>(controllers_.size()));
        slaves_ = Keys(401, 2 * static_cast<int>(controllers_.size()));
        outputs_ = Keys(501, 3 * static_cast<int>(slaves_.size()));
        inputs_ = Keys(601, 4 * static_cast<int>(slaves_.size()));
        readers_ = Keys(701, 2 * static_cast<int>(slaves_.size()));
        zones_ = Keys(1, n_ + 2);
        groups_ = Keys(1, n_ + 3);
        departments_ = Keys(1, n_ + 3);
        operators_ = Keys(2, n_ + 2);
        owners_ = Keys(1, 6 * n_ + 2);
        daysch_ = Keys(1, 2 * static_cast<int>(controllers_.size()));
        macros_ = {5, 9, 12, 13};
        for (int k : Keys(20, 2 * (n_ - 1))) macros_.push_back(k);
    }

    void Reference() {
        for (std::size_t g = 0; g < groups_.size(); ++g)
            s_.Insert("ACCGROUPS", "AG_ID, AG_NAME, AG_NOTE, AG_COLOR",
                      {Int(groups_[g]), Str(Name(kGroups, g)),
                       Str(g % 2 ? "Доступ по рабочим дням" : "Круглосуточный доступ"), Int(g * 4096)});
        for (std::size_t d = 0; d < departments_.size(); ++d) {
            std::vector<std::string> values{Int(departments_[d]), Str(Name(kDepartments, d)),
                                            d ? Int(departments_[0]) : "NULL"};
            std::string columns = "DP_ID, DP_NAME, DP_PARENT";
            if (!newer_) {
                columns += ", DP_CODE";
                values.push_back(Str("D" + Pad(Int(d + 1), 3)));
            }
            s_.Insert("DEPARTMENTS", columns, values);
        }
        for (std::size_t o = 0; o < operators_.size(); ++o) {
            std::vector<std::string> values{Int(operators_[o]), Str("OPER" + Int(operators_[o])),
                                            Str(Person(o)), "0", Int(10 + o % 3 * 10)};
            std::string columns = "OP_ID, OP_LOGIN, OP_NAME, OP_SYSTEM, OP_LEVEL";
            if (newer_) {
                columns += ", OP_EMAIL";
                values.push_back(Str("oper" + Int(operators_[o]) + "@example.org"));
            }
            s_.Insert("OPERATORS", columns, values);
        }
        for (int d = 0; d < 2 * n_ + 1; ++d)
            s_.Insert("DEVSTATES", "DVS_ID, DVS_TYPE, DVS_DEV_ID, DVS_STATE, DVS_DATE",
                      {Int(d + 1), "4", Int(readers_[d % readers_.size()]), Int(d % 3),
                       Str("2026-02-01 12:00:00")});
    }

    void Equipment() {
        for (std::size_t h = 0; h < hosts_.size(); ++h) {
            std::vector<std::string> values{Int(hosts_[h]), Str(h ? "Рабочая станция " + Int(h) : "Сервер охраны"),
                                            Str("192.168.1." + Int(10 + h)), Str(h % 2 ? "" : "Главный корпус")};
            std::string columns = "HS_ID, HS_NAME, HS_ADDR, HS_NOTE";
            if (newer_) {
                columns += ", HS_PORT";
                values.push_back(Int(3050 + h));
            }
            s_.Insert("HOSTS", columns, values);
            s_.Insert("ROBOTS$ACTIONS", "RA_ID, RA_HS_ID, RA_NAME, RA_ACTION, RA_PARAMS",
                      {Int(Keys(1, static_cast<int>(hosts_.size()))[h]), Int(hosts_[h]),
                       Str(h % 2 ? "Отчёт за сутки" : "Резервная копия"), Int(1 + h % 2),
                       Str("time=0" + Int(h % 10) + ":30")});
        }
        const std::string ctColumns = "CT_ID, CT_HS_ID, CT_NAME, CT_ADDR, CT_TYPE, CT_SERIAL";
        for (std::size_t c = 0; c < controllers_.size(); ++c)
            s_.Insert("CONTROLLERS", ctColumns,
                      {Int(controllers_[c]), Int(hosts_[c % hosts_.size()]), Str("Контроллер " + Int(c + 1)),
                       Int(c + 1), Int(2 + c % 2), Str("SN" + Pad(Int(40000 + c * 17), 8))});
        s_.Insert("CONTROLLERS", ctColumns,
                  {Int(orphan_), Int(kUnknown), Str("Контроллер без хоста"), "99", "2", Str("SN00000000")});

        for (std::size_t c = 0; c < controllers_.size(); ++c) {
            s_.Insert("PCN", "PC_ID, PC_CT_ID, PC_NAME, PC_NUM",
                      {Int(pcn_[c]), Int(controllers_[c]), Str("ПЦН " + Int(c + 1)), "1"});
            for (int t = 0; t < 2; ++t) {
                std::size_t i = 2 * c + t;
                s_.Insert("CINPUTS", "CI_ID, CI_CT_ID, CI_NAME, CI_NUM, CI_MODE",
                          {Int(cinputs_[i]), Int(controllers_[c]), Str(t ? "Вскрытие корпуса" : "Питание 220В"),
                           Int(t + 1), Int(t)});
                s_.Insert("SLAVES", "SL_ID, SL_CT_ID, SL_NAME, SL_ADDR, SL_TYPE",
                          {Int(slaves_[i]), Int(controllers_[c]), Str("Модуль " + Int(i + 1)), Int(t + 1), "1"});
            }
        }
        for (std::size_t z = 0; z < zones_.size(); ++z)
            s_.Insert("ZONES", "ZN_ID, ZN_NAME, ZN_PARENT, ZN_LIMIT",
                      {Int(zones_[z]), Str(z ? "Зона " + Int(z) : "Территория"), z ? Int(zones_[0]) : "NULL",
                       Int(z * 50)});
        for (std::size_t sl = 0; sl < slaves_.size(); ++sl) {
            for (int t = 0; t < 3; ++t)
                s_.Insert("OUTPUTS", "OU_ID, OU_SL_ID, OU_NAME, OU_NUM, OU_MODE",
                          {Int(outputs_[3 * sl + t]), Int(slaves_[sl]),
                           Str(t == 0 ? "Индикатор" : t == 1 ? "Замок" : "Сирена"), Int(t + 1), Int(t % 2)});
            for (int t = 0; t < 4; ++t)
                s_.Insert("INPUTS", "IN_ID, IN_SL_ID, IN_NAME, IN_NUM, IN_MODE",
                          {Int(inputs_[4 * sl + t]), Int(slaves_[sl]), Str("Шлейф " + Int(t + 1)), Int(t + 1),
                           Int(t % 3)});
        }
        const std::string rdColumns =
            "RD_ID, RD_SL_ID, RD_NAME, RD_NUM, RD_ZN_IN, RD_ZN_OUT, RD_IN_1, RD_IN_2, RD_IN_3, RD_IN_4, "
            "RD_OUT_IND0, RD_OUT_IND1, RD_OUT_IND2, RD_OUT_IND3, RD_OUT_OPEN, RD_OUT_CLOSE, RD_MODE";
        for (std::size_t sl = 0; sl < slaves_.size(); ++sl) {
            const int* in = &inputs_[4 * sl];
            const int* out = &outputs_[3 * sl];
            for (int t = 0; t < 2; ++t) {
                std::size_t r = 2 * sl + t;
                // Device columns: 0 = NULL.
                int dev[10];
                if (t == 0) {
                    int d[10] = {in[0], in[1], 0, r == 0 ? kUnknown : 0, out[0], 0, 0, 0, out[1], 0};
                    std::copy(d, d + 10, dev);
                } else {
                    int d[10] = {in[2], 0, in[3], 0, 0, out[2], 0, 0, out[1], out[2]};
                    std::copy(d, d + 10, dev);
                }
                if (r + 1 == readers_.size()) std::fill(dev, dev + 10, 0);
                std::vector<std::string> values{Int(readers_[r]), Int(slaves_[sl]),
                                                Str((t ? "Считыватель выход " : "Считыватель вход ") + Int(sl + 1)),
                                                Int(t + 1), Int(zones_[t ? 0 : 1 + sl % (zones_.size() - 1)]),
                                                Int(zones_[t ? 1 + sl % (zones_.size() - 1) : 0])};
                for (int v : dev) values.push_back(IntOrNull(v));
                values.push_back(Int(t));
                s_.Insert("READERS", rdColumns, values);
            }
        }
    }

    void Schedules() {
        std::vector<int> cards = Keys(1, 2 * static_cast<int>(controllers_.size()));
        std::vector<int> timers = Keys(1, static_cast<int>(controllers_.size()) + 1);
        for (std::size_t c = 0; c < controllers_.size(); ++c) {
            for (int t = 0; t < 2; ++t) {
                std::size_t i = 2 * c + t;
                s_.Insert("CARDSDEF", "CD_ID, CD_CT_ID, CD_NUM, CD_CARD, CD_OW_ID, CD_AG_ID",
                          {Int(cards[i]), Int(controllers_[c]), Int(t + 1),
                           Str(Pad(Int(1000000 + i * 7919 % 900000), 10)), Int(owners_[i % owners_.size()]),
                           Int(groups_[i % groups_.size()])});
                s_.Insert("DAYSCH", "DS_ID, DS_CT_ID, DS_NUM, DS_NAME, DS_FROM, DS_TO",
                          {Int(daysch_[i]), Int(controllers_[c]), Int(t + 1), Str(t ? "Выходной" : "Рабочий день"),
                           Int(t ? 600 : 480), Int(t ? 900 : 1080)});
            }
            s_.Insert("TIMERS", "TM_ID, TM_CT_ID, TM_NUM, TM_NAME, TM_SECONDS",
                      {Int(timers[c]), Int(controllers_[c]), "1", Str("Время открытия двери"), Int(5 + c % 3)});
        }
        s_.Insert("TIMERS", "TM_ID, TM_CT_ID, TM_NUM, TM_NAME, TM_SECONDS",
                  {Int(timers.back()), Int(orphan_), "1", Str("Время открытия двери"), "5"});

        // PD_TYPE 4 reader, 5 controller input, 6 alarm panel, 7 input, 8 output, 2 no device table.
        const int types[] = {4, 5, 6, 7, 8, 2};
        std::vector<int> programs = Keys(1, 6 * n_);
        for (std::size_t k = 0; k < programs.size(); ++k) {
            int type = types[k % 6];
            const std::vector<int>* devices = type == 4 ? &readers_ : type == 5 ? &cinputs_ : type == 6 ? &pcn_
                                                        : type == 7 ? &inputs_ : type == 8 ? &outputs_ : nullptr;
            int dev = devices ? (*devices)[k * 5 % devices->size()] : static_cast<int>(k % 4 + 1);
            s_.Insert("PRGDEF", "PD_ID, PD_NAME, PD_CT_ID, PD_NUM, PD_TYPE, PD_DEV_ID, PD_ARG",
                      {Int(programs[k]), Str("Программа " + Int(k + 1)), Int(controllers_[k % controllers_.size()]),
                       Int(k / controllers_.size() + 1), Int(type), Int(dev), Int(k % 3)});
        }

        std::vector<int> rights = Keys(1, 3 * static_cast<int>(groups_.size()) + 1);
        std::vector<int> weekly = Keys(1, 2 * static_cast<int>(groups_.size()));
        for (std::size_t g = 0; g < groups_.size(); ++g) {
            for (int t = 0; t < 3; ++t) {
                std::size_t i = 3 * g + t;
                s_.Insert("AGRIGHTS", "AR_ID, AR_AG_ID, AR_RD_ID, AR_DS_ID, AR_RIGHT",
                          {Int(rights[i]), Int(groups_[g]), Int(readers_[i % readers_.size()]),
                           Int(daysch_[i % daysch_.size()]), "1"});
            }
            for (int t = 0; t < 2; ++t) {
                std::size_t i = 2 * g + t;
                s_.Insert("AGSCH", "AS_ID, AS_AG_ID, AS_RD_ID, AS_DAY, AS_DS_ID",
                          {Int(weekly[i]), Int(groups_[g]), Int(readers_[(i * 3 + 1) % readers_.size()]),
                           Int(1 + i % 7), Int(daysch_[i % daysch_.size()])});
            }
        }
        s_.Insert("AGRIGHTS", "AR_ID, AR_AG_ID, AR_RD_ID, AR_DS_ID, AR_RIGHT",
                  {Int(rights.back()), Int(groups_[0]), Int(kUnknown), Int(daysch_[0]), "0"});
    }

    void Macros() {
        const int rd = readers_[0], rd2 = readers_[1], out = outputs_[0], out2 = outputs_[1];
        const int in = inputs_[0], in2 = inputs_[1], in3 = inputs_[2];
        // A current-format line of exactly 20 characters: the argument takes up the rest.
        std::string head20 = "22;0;7;" + Int(out2) + ";0;";
        std::string line20 = head20 + Pad("1", 19 - head20.size()) + ";";
        std::vector<std::string> current{"32;0;6;" + Int(rd) + ";0;2;", "22;0;7;" + Int(out) + ";0;1;",
                                         "24;0;8;" + Int(in) + ";0;1;0;", "5;0;3;" + Int(in2) + ";0;1;",
                                         "22;0;263;" + Int(out) + ";0;0;", line20, "32;0;6;" + Int(kUnknown) + ";0;2;"};
        // An older-format line of exactly 21 characters (the first inputs have three digits).
        std::string line21 = "1:" + Int(in3) + ":0:1:2:TakeInAT:";
        std::vector<std::string> older{
            line21,
            "11:" + Int(in) + ":0:120:340:PutInAT:",
            "12:" + Int(in2) + ":5:120:340:ResetInAT:",
            "13:" + Int(out) + ":0:120:340:ActUUCTime:",
            "14:" + Int(out2) + ":0:120:340:ResetUU:",
            "15:" + Int(out) + ":0:120:340:ActUUReset:",
            "16:" + Int(rd) + ":0:120:340:EnableAcWish:",
            "17:" + Int(rd2) + ":3:120:340:SetAcMode:",
            "18:" + Int(rd) + ":0:120:340:ResetAlrm:",
            "40:7:9:120:340:PlaySound:",
        };
        for (const auto& line : current)
            if (line.size() > 20) throw std::logic_error("sample macro line too long: " + line);
        for (const auto& line : older)
            if (line.size() < 21) throw std::logic_error("sample macro line too short: " + line);
        if (line20.size() != 20 || line21.size() != 21) throw std::logic_error("sample boundary macro lines");

        const std::string columns = "MCR_ID, MCR_NAME, MCR_FILL";
        s_.Insert("MACROSES", columns, {"5", Str("Открыть проходную"), Lines(current, "\r\n", true)});
        s_.Insert("MACROSES", columns, {"9", Str("Старый макрос охраны"), Lines(older, "\r\n", true)});
        s_.Insert("MACROSES", columns, {"12", Str("Пустой макрос"), "''"});
        s_.Insert("MACROSES", columns,
                  {"13", Str("Макрос из файла"),
                   Lines({"24;0;8;" + Int(in2) + ";0;1;0;", "13:" + Int(out2) + ":0:120:340:ActUUCTime:",
                          "32;0;6;" + Int(rd2) + ";0;2;"},
                         "\n", false)});
        for (std::size_t m = 4; m < macros_.size(); ++m) {
            std::size_t i = m * 7;
            s_.Insert("MACROSES", columns,
                      {Int(macros_[m]), Str("Макрос " + Int(m + 1)),
                       Lines({"32;0;6;" + Int(readers_[i % readers_.size()]) + ";0;2;",
                              "22;0;7;" + Int(outputs_[i % outputs_.size()]) + ";0;1;",
                              "24;0;8;" + Int(inputs_[i % inputs_.size()]) + ";0;1;0;"},
                             "\r\n", true)});
        }
        for (int macro : macros_) {
            s_.Insert("MAKROS_RIGHT", "MR_MCR_ID, MR_OP_ID, MR_RIGHT", {Int(macro), "1", "1"});
            s_.Insert("MAKROS_RIGHT", "MR_MCR_ID, MR_OP_ID, MR_RIGHT", {Int(macro), Int(operators_[0]), "0"});
        }
        s_.Insert("MAKROS_RIGHT", "MR_MCR_ID, MR_OP_ID, MR_RIGHT", {Int(kUnknown), Int(operators_[0]), "1"});
    }

    void People() {
        const std::string columns =
            "OW_ID, OW_LASTNAME, OW_FIRSTNAME, OW_MIDNAME, OW_TABNUM, OW_CARD, OW_DP_ID, OW_AG_ID, OW_POST, "
            "OW_PHOTO, OW_ARCHIVE";
        for (std::size_t o = 0; o < owners_.size(); ++o) {
            std::size_t p = o % std::size(kLastNames);
            std::string photo = o == 2 ? "NULL" : Hex(Photo(static_cast<int>(o), 200 + o * 37 % 300));
            if (o == 1) photo = "NULL";   // the large photo is built below
            bool archived = o == 3 || o + 1 == owners_.size() || (o % 10 == 9);
            s_.Insert("OWNER", columns,
                      {Int(owners_[o]), Str(kLastNames[p]), Str(kFirstNames[p]), Str(kMidNames[p]),
                       Str(Pad(Int(o + 1), 5)), Str(Pad(Int(1000000 + o * 7919 % 900000), 10)),
                       Int(departments_[o % departments_.size()]), Int(groups_[o % groups_.size()]),
                       Str(kPosts[o % std::size(kPosts)]), newer_ ? "NULL" : photo, archived ? "1" : "0"});
            if (newer_ && photo != "NULL")
                s_.Add("UPDATE OWNERPHOTOS SET OW_PHOTO = " + photo + " WHERE OW_ID = " + Int(owners_[o]) + ";");
        }
        // 4 + 20 * 1021 bytes: more than 16 KB, with a period that no power of two divides.
        std::vector<unsigned char> chunk = Photo(1021, 1021 + 6);
        chunk.erase(chunk.begin(), chunk.begin() + 4);
        chunk.pop_back();
        chunk.pop_back();
        s_.Add("SET TERM ^ ;");
        s_.Add("EXECUTE BLOCK AS");
        s_.Add("  DECLARE b BLOB SUB_TYPE 0;");
        s_.Add("  DECLARE i INTEGER;");
        s_.Add("BEGIN");
        s_.Add("  b = x'FFD8FFE0';");
        s_.Add("  i = 0;");
        s_.Add("  WHILE (i < 20) DO");
        s_.Add("  BEGIN");
        s_.Add("    b = b || " + Hex(chunk) + ";");
        s_.Add("    i = i + 1;");
        s_.Add("  END");
        s_.Add(std::string("  UPDATE ") + (newer_ ? "OWNERPHOTOS" : "OWNER") + " SET OW_PHOTO = :b WHERE OW_ID = " +
               Int(owners_[1]) + ";");
        s_.Add("END^");
        s_.Add("SET TERM ; ^");
    }

    void IniData() {
        const std::string columns = "ID_ID, ID_SECTION, ID_KEY, ID_BLOB";
        s_.Insert("INIDATA", columns, {"1", Str("MAIN"), Str("Language"), Str("RU")});
        s_.Insert("INIDATA", columns, {"2", Str("USER_CAN_FILTER"), Int(operators_[0]), Str("1")});
        s_.Insert("INIDATA", columns, {"4", Str("USER_FILTERS"), Int(operators_[0]),
                                       Lines({"EV_CODE=5", "EV_CODE=6"}, "\r\n", true)});
        s_.Insert("INIDATA", columns, {"5", Str("CTRL_FILTERS"), Int(operators_[0]),
                                       Lines({Int(controllers_[0]), Int(controllers_[1])}, "\r\n", true)});
        s_.Insert("INIDATA", columns, {"7", Str("PRINT"), Str("ReportHeader"),
                                       Lines({"Отчёт о проходах", "ООО «Ромашка», пост № 1"}, "\r\n", true)});
        s_.Insert("INIDATA", columns, {"8", Str("VIDEO"), Str("Server"), Str("rtsp://10.0.0.5:554/stream")});
        std::vector<int> keys = Keys(20, static_cast<int>(operators_.size()));
        for (std::size_t o = 0; o < operators_.size(); ++o) {
            std::vector<std::string> lines;
            for (std::size_t r = o % 3; r < readers_.size() && lines.size() < 12; r += 3)
                lines.push_back("[" + Int(operators_[o]) + "]" + Int(readers_[r]));
            if (o == 0) lines.push_back("[" + Int(operators_[o]) + "]" + Int(kUnknown));
            s_.Insert("INIDATA", columns,
                      {Int(keys[o]), Str("USERS_RD_RIGHTS"), Int(operators_[o]), Lines(lines, "\r\n", true)});
        }
    }

    // The device of a journal row, chosen by the hardware type of its description.
    std::string Device(int hardtype) const {
        switch (hardtype) {
        case 1: return Pick(Spread(hosts_));
        case 2: {
            std::vector<int> all = controllers_;
            all.push_back(orphan_);
            return Pick(Spread(all));
        }
        case 3: return Pick(Spread(slaves_));
        case 4: return Pick(Spread(readers_));
        case 5: return Pick(Spread(cinputs_));
        case 6: return Pick(Spread(pcn_));
        case 7: return Pick(Spread(inputs_));
        case 8: return Pick(Spread(outputs_));
        case 12: return "MOD(i, 4) + 1";   // camera number, kept as it is
        default: return "0";
        }
    }

    struct Journal {
        std::string table, columns;   // columns: key, date, code, additional code, device, then extra
        std::vector<std::string> extra;   // values of the extra columns (may use :i, :o and the date :t)
        bool acr;
    };

    // count rows from key 101 on, spread evenly over 2025-10-01 .. 2026-03-31.
    void Bulk(const Journal& j, int count) {
        if (count <= 0) return;
        char step[32];
        std::snprintf(step, sizeof step, "%.9f", 182.0 / count);
        s_.Add("SET TERM ^ ;");
        s_.Add("EXECUTE BLOCK AS");
        s_.Add("  DECLARE i INTEGER;");
        s_.Add("  DECLARE c INTEGER;");
        s_.Add("  DECLARE a INTEGER;");
        s_.Add("  DECLARE d INTEGER;");
        s_.Add("  DECLARE o INTEGER;");
        s_.Add("  DECLARE k INTEGER;");
        s_.Add("  DECLARE t DATE;");
        s_.Add("BEGIN");
        s_.Add("  i = 0;");
        s_.Add("  WHILE (i < " + Int(count) + ") DO");
        s_.Add("  BEGIN");
        s_.Add("    t = CAST('2025-10-01 00:00:00' AS DATE) + i * " + std::string(step) + ";");
        s_.Add("    o = " + Pick(Spread(owners_)) + ";");
        if (j.acr) {
            s_.Add("    c = " + Pick(std::vector<int>(std::begin(kAcrCodes), std::end(kAcrCodes))) + ";");
            s_.Add("    a = 0;");
            s_.Add("    d = MOD(i, 4) + 1;");
        } else {
            int kinds = static_cast<int>(std::size(kEventKinds));
            s_.Add("    k = MOD(i, " + Int(kinds) + ");");
            for (int k = 0; k < kinds; ++k) {
                const Kind& kind = kEventKinds[k];
                s_.Add(std::string(k ? "    ELSE " : "    ") + "IF (k = " + Int(k) + ") THEN BEGIN c = " +
                       Int(kind.code) + "; a = " + Int(kind.addcode) + "; d = " + Device(kind.hardtype) + "; END");
            }
            s_.Add("    IF (MOD(i, 7) = 3) THEN a = a + 256;");
        }
        std::string values = ":i + 101, :t, :c, :a, :d";
        for (const auto& e : j.extra) values += ", " + e;
        s_.Add("    INSERT INTO " + j.table + " (" + j.columns + ") VALUES (" + values + ");");
        s_.Add("    i = i + 1;");
        s_.Add("  END");
        s_.Add("END^");
        s_.Add("SET TERM ; ^");
    }

    void Journals() {
        const int rd = readers_[0];
        const std::string ev = "EV_ID, EV_DATE, EV_CODE, EV_ADDCODE, EV_DEV_ID, EV_OW_ID, EV_CARD";
        const std::string ow = Int(owners_[0]);
        auto event = [&](int id, const char* date, int code, int addcode, int dev) {
            s_.Insert("EVENTS", ev, {Int(id), Str(date), Int(code), Int(addcode), Int(dev), ow, Str("0001000000")});
        };
        event(1, "2025-12-31 23:59:59", 5, 0, rd);
        event(2, "2026-01-01 00:00:00", 5, 0, rd);
        event(3, "2026-01-02 08:00:00", 5, 256, rd);
        event(4, "2026-01-02 08:01:00", 5, 257, rd);
        event(5, "2026-01-02 08:02:00", 11, 256, rd);
        event(6, "2026-01-02 08:03:00", 99, 0, rd);
        event(7, "2026-01-02 08:04:00", 5, 0, kUnknown);
        event(8, "2026-01-02 08:05:00", 10, 0, 3);
        event(9, "2026-01-02 08:06:00", 1, 0, 0);
        const std::string al =
            "AL_ID, AL_DATE, AL_CODE, AL_ADDCODE, AL_DEV_ID, AL_OW_ID, AL_STATE, AL_ACKDATE, AL_OP_ID";
        s_.Insert("ALARM", al, {"1", Str("2025-12-31 23:00:00"), "6", "0", Int(cinputs_[0]), "NULL", "2",
                                Str("2025-12-31 23:10:00"), "1"});
        s_.Insert("ALARM", al, {"2", Str("2026-01-01 00:00:00"), "8", "0", Int(inputs_[0]), "NULL", "0", "NULL", "NULL"});
        s_.Insert("ALARM", al, {"3", Str("2026-01-03 09:00:00"), "4", "256", Int(slaves_[0]), "NULL", "1", "NULL",
                                Int(operators_[0])});

        // Total 1000 * size - 800 rows: 200 at size 1, about a million at size 1000.
        int total = 1000 * n_ - 800;
        auto part = [&](int percent) { return total * percent / 100; };
        Bulk({"EVENTS", ev, {":o", "'00' || CAST(1000000 + :i AS INTEGER)"}, false}, part(50));
        Bulk({"ALARM", al, {"NULL", "MOD(:i, 3)", "CASE WHEN MOD(:i, 3) = 2 THEN :t + 0.01 END",
                            "CASE WHEN MOD(:i, 3) = 2 THEN 1 END"}, false},
             part(20));
        Bulk({"ACR$EVENTS", "AEV_ID, AEV_DATE, AEV_CODE, AEV_ADDCODE, AEV_DEV_ID, AEV_OW_ID", {":o"}, true}, part(12));
        Bulk({"STR_EVENTS", "EV_ID, EV_DATE, EV_CODE, EV_ADDCODE, EV_DEV_ID, EV_OW_ID, EV_TEXT",
              {":o", "'Событие ' || :i"}, false},
             part(8));
        Bulk({"STR_ALARMS", "AL_ID, AL_DATE, AL_CODE, AL_ADDCODE, AL_DEV_ID, AL_STATE, AL_TEXT",
              {"MOD(:i, 3)", "'Тревога ' || :i"}, false},
             part(5));
        Bulk({"ACR$ALARMS", "AAL_ID, AAL_DATE, AAL_CODE, AAL_ADDCODE, AAL_DEV_ID, AAL_STATE", {"MOD(:i, 2)"}, true},
             part(5));
    }

    // Every generator at least at the largest key of its table.
    void Generators() {
        const char* const pairs[][3] = {
            {"GEN_HOSTS", "HOSTS", "HS_ID"},         {"GEN_CONTROLLERS", "CONTROLLERS", "CT_ID"},
            {"GEN_PCN", "PCN", "PC_ID"},             {"GEN_CINPUTS", "CINPUTS", "CI_ID"},
            {"GEN_SLAVES", "SLAVES", "SL_ID"},       {"GEN_OUTPUTS", "OUTPUTS", "OU_ID"},
            {"GEN_INPUTS", "INPUTS", "IN_ID"},       {"GEN_READERS", "READERS", "RD_ID"},
            {"GEN_MACROSES", "MACROSES", "MCR_ID"},  {"GEN_ZONES", "ZONES", "ZN_ID"},
            {"GEN_PRGDEF", "PRGDEF", "PD_ID"},       {"GEN_INIDATA", "INIDATA", "ID_ID"},
            {"GEN_OWNER", "OWNER", "OW_ID"},         {"GEN_EVENTS", "EVENTS", "EV_ID"},
            {"GEN_ALARM", "ALARM", "AL_ID"},         {"GEN_ACR_EVENTS", "ACR$EVENTS", "AEV_ID"},
            {"GEN_ACR_ALARMS", "ACR$ALARMS", "AAL_ID"}, {"GEN_STR_EVENTS", "STR_EVENTS", "EV_ID"},
            {"GEN_STR_ALARMS", "STR_ALARMS", "AL_ID"},
        };
        s_.Add("SET TERM ^ ;");
        s_.Add("EXECUTE BLOCK AS");
        s_.Add("  DECLARE m INTEGER;");
        s_.Add("  DECLARE g INTEGER;");
        s_.Add("BEGIN");
        for (const auto& p : pairs) {
            s_.Add(std::string("  SELECT COALESCE(MAX(") + p[2] + "), 0) FROM " + p[1] + " INTO :m;");
            s_.Add(std::string("  g = GEN_ID(") + p[0] + ", 0);");
            s_.Add(std::string("  IF (g < m) THEN g = GEN_ID(") + p[0] + ", m - g);");
        }
        s_.Add("END^");
        s_.Add("SET TERM ; ^");
    }

    template <std::size_t K>
    static std::string Name(const char* const (&names)[K], std::size_t i) {
        return i < K ? names[i] : std::string(names[i % K]) + " " + Int(i / K + 1);
    }
    static std::string Person(std::size_t i) {
        std::size_t p = (i + 6) % std::size(kLastNames);
        return std::string(kLastNames[p]) + " " + kFirstNames[p];
    }

    int n_;
    bool newer_;
    Script s_;
    std::vector<int> hosts_, controllers_, pcn_, cinputs_, slaves_, outputs_, inputs_, readers_;
    std::vector<int> zones_, groups_, departments_, operators_, owners_, daysch_, macros_;
    int orphan_ = 0;
};

// A word for the shell: in single quotes, each single quote written as '\''.
std::string ShellWord(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

} // namespace

std::string DefaultSamplesDir() { return std::string(KESTRIX_SOURCE_DIR) + "/samples"; }

std::string SchemaScript(bool newer, const std::string& samplesDir) {
    std::string dir = samplesDir.empty() ? DefaultSamplesDir() : samplesDir;
    return ReadWhole(dir + (newer ? "/schema/new.sql" : "/schema/old.sql"));
}

std::string SourceDataScript(int size, bool newer) {
    if (size <= 0) return {};
    return Builder(size, newer).Build();
}

void CreateSampleDatabase(const std::string& path, bool newer, int size, const std::string& samplesDir) {
    if (std::filesystem::exists(path)) throw std::runtime_error("will not overwrite " + path);
    std::string sqlPath;
    for (char c : path) sqlPath += c == '\'' ? std::string("''") : std::string(1, c);
    std::string script = "SET NAMES WIN1251;\nSET SQL DIALECT 1;\nCREATE DATABASE '" + sqlPath +
                         "' USER 'SYSDBA' PASSWORD 'drowsyelk' PAGE_SIZE 8192 DEFAULT CHARACTER SET WIN1251;\n" +
                         SchemaScript(newer, samplesDir) + "\n" + SourceDataScript(size, newer) + "\nCOMMIT;\n";

    std::string file = (std::filesystem::temp_directory_path() / "kestrix-sample-XXXXXX").string();
    int fd = mkstemp(file.data());
    if (fd < 0) throw std::runtime_error("cannot create a temporary script file");
    close(fd);
    struct Remove {
        std::string path;
        ~Remove() { std::remove(path.c_str()); }
    } remove{file};
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << script;
        if (!out) throw std::runtime_error("cannot write " + file);
    }

    std::string command = "isql-fb -q -b -ch WIN1251 -i " + ShellWord(file) + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run isql-fb");
    std::string output;
    char buffer[4096];
    std::size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    int status = pclose(pipe);
    if (status != 0 || !std::filesystem::exists(path)) {
        std::error_code ec;
        std::filesystem::remove(path, ec);   // half built: ours, and of no use
        throw std::runtime_error("isql-fb failed building " + path + ":\n" + output);
    }
}

} // namespace kestrix::sample
