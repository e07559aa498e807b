#pragma once
// Every Russian text of the program, written once in UTF-8 and held in Windows-1251.
#include <cstdio>
#include <string>

#include "db/Charset.h"

namespace kestrix::texts {

// A text with printf placeholders, filled.
template <class... Args> std::string Formatted(const std::string& format, Args... args) {
    const int size = std::snprintf(nullptr, 0, format.c_str(), args...);
    std::string text(static_cast<std::size_t>(size > 0 ? size : 0) + 1, '\0');
    std::snprintf(text.data(), text.size(), format.c_str(), args...);
    text.pop_back();
    return text;
}

// Table copy
inline const std::string kInsertError = ToCp1251("Ошибка Добавления ");
inline const std::string kMaxIdError = ToCp1251("Ошибка выяснения значения ID ");
inline const std::string kArchiveError = ToCp1251("Ошибка изменения флага архивации ");
// Table clearing
inline const std::string kClearError = ToCp1251("Ошибка очистки таблицы  ");
// Transfer sequence
inline const std::string kClearPassHeader = ToCp1251("   Очистка БД приемника ");
inline const std::string kCopyPassHeader = ToCp1251("   Обновление БД приемника");
inline const std::string kExtraClearing = ToCp1251("   Дополнительная Очистка БД ");
inline const std::string kClearing = ToCp1251("   Очистка БД ");
inline const std::string kClearPassStatus = ToCp1251("Очистка Базы - приемника данных:.");
// Generator reset
inline const std::string kGeneratorMaxError = ToCp1251("Ошибка нахождения максимума таблицы  ");
inline const std::string kGeneratorSetError = ToCp1251("Ошибка установки генератора  ");
// Macro transfer
inline const std::string kMacroReadError = ToCp1251("Ошибка чтения макросов источника:  ");
inline const std::string kMacroClearError = ToCp1251("Ошибка очистки макросов приемника:  ");
inline const std::string kMacroInsertError = ToCp1251("Ошибка добавления макросов в приемник:  ");
inline const std::string kMacroMaxIdError = ToCp1251("Ошибка выяснения значения ID макроса :  ");
inline const std::string kMacroTextError = ToCp1251("Ошибка преобразования текста макроса ");
// Column update pass
inline const std::string kUpdateError = ToCp1251("Ошибка Обновления ");
// SQL scripts
inline const std::string kBeginRuler = ToCp1251("___________ Начало команды SQL ____________________");
inline const std::string kSuccessLine = ToCp1251("    Успешная операция.    ");
inline const std::string kErrorHeading = ToCp1251("########       Сообщение об ошибке       #########");
inline const std::string kEndRuler = ToCp1251("___________ Конец команды SQL _____________________");
// Transfer run
inline const std::string kStatusInterrupted = ToCp1251("Перенос данных прерван");
inline const std::string kStatusPostScript = ToCp1251("Обработка");
inline const std::string kStatusVerification = ToCp1251("Проверка переноса: ");
inline const std::string kStatusGenerators = ToCp1251("Восстановление генераторов.");
inline const std::string kStatusFinished = ToCp1251("Перенос данных завершен.");
inline const std::string kConfirmCancel = ToCp1251("Вы действительно хотите прервать перенос данных?");
inline const std::string kInterruptedWarning =
    std::string(39, ' ') + ToCp1251("Внимание!!!") + "\r" + std::string(17, ' ') +
    ToCp1251("Перенос данных был прерван пользователем.") + "\r" + " " +
    ToCp1251("Перед возобновлением переноса данных обновите Базу - приемник данных.");
// printf format: the other run's computer, process id and start.
inline const std::string kDestinationBusy =
    ToCp1251("Базу - приемник данных сейчас заполняет другой перенос: компьютер %s, процесс %s, начат %s.");
inline const std::string kSameDatabases = ToCp1251("БД источника и приемника должны быть разными.");
// An index of the destination that a run which never ended left inactive, made active again.
inline const std::string kIndexRestored = ToCp1251("   Восстановлен индекс, оставленный неактивным прерванным переносом: ");
// The destination's forced writes, left off by a run that never ended, switched on again.
inline const std::string kForcedWritesRestored =
    ToCp1251("   Включена принудительная запись (forced writes), оставленная выключенной прерванным переносом");
// The destination's forced writes, off for the run, could not be switched on after it.
inline const std::string kForcedWritesStillOff =
    ToCp1251("   Принудительная запись (forced writes) приемника осталась выключенной; ее включит следующий перенос");
// An index the run could not make active again, with the table and the engine's reason after it.
inline const std::string kIndexNotRestored = ToCp1251("   Индекс не удалось сделать активным, он остается неактивным: ");
// The journals' indexes could not be made inactive for the load; the engine's reason follows.
inline const std::string kIndexesKeptActive = ToCp1251("   Индексы журналов остаются активными на время загрузки: ");
// The engine's reason why forced writes stay off follows.
inline const std::string kForcedWritesNotSwitched = ToCp1251("   Принудительную запись (forced writes) не удалось включить: ");
// Why forced writes are not switched on while another client is attached.
inline const std::string kForcedWritesOthersAttached = ToCp1251("к базе подключен другой клиент");
// printf format: the index and its table. The reason follows in brackets.
inline const std::string kLeftIndexInactive = ToCp1251(
    "Индекс %s таблицы %s остался неактивным; его сделает активным следующий перенос владельца таблицы или "
    "администратора сервера");
inline const std::string kLeftForcedWritesOff = ToCp1251(
    "Принудительная запись (forced writes) приемника осталась выключенной; ее включит перенос владельца базы или "
    "администратора сервера, когда к базе не будет подключен никто другой");
// A run that left a switch of the bulk load set: failed, whatever else it did.
inline const std::string kSwitchesLeft =
    ToCp1251("Перенос оставил базу - приемник данных не такой, как задает ее схема (см. итог переноса и Файл результатов).");
// printf format: the table and the minutes and seconds waited.
inline const std::string kWaitingForLock = ToCp1251("Ожидание блокировки в приемнике: таблица %s, %02d:%02d");
// A run whose server left it waiting 30 s after a cancel request: its links were cut.
inline const std::string kServerSilent = ToCp1251("Сервер не отвечает; соединение с ним разорвано.");
// Start-up checks
inline const std::string kLogCreateFailed = ToCp1251("Невозможно создать Файл результатов,") + "\r" +
                                            std::string(2, ' ') + ToCp1251("продолжение работы невозможно.");
inline const std::string kTableListMissing = ToCp1251("Не найден Файл со списком копируемых таблиц,") + "\r" +
                                             std::string(9, ' ') + ToCp1251("продолжение работы невозможно.");
inline const std::string kGeneratorListMissing = ToCp1251("Не найден Файл со списком генераторов,") + "\r" +
                                                 std::string(3, ' ') + ToCp1251("продолжение работы невозможно.");

// Main window
inline const std::string kWindowTitle = ToCp1251("Перенос данных");
inline const std::string kSourceTitle = ToCp1251("База - источник данных:");
inline const std::string kDestTitle = ToCp1251("База - приемник данных:");
inline const std::string kEventsOption = ToCp1251("Переносить события и тревоги");
inline const std::string kFromTitle = ToCp1251("с:");
inline const std::string kMoveCaption = ToCp1251("Выполнить перенос данных");
inline const std::string kCancelMoveCaption = ToCp1251("Прервать перенос данных");
inline const std::string kTableTitle = ToCp1251("Копируется таблица:");
inline const std::string kAllTitle = ToCp1251("Всего скопировано:");
inline const std::string kDatabaseDialogTitle = ToCp1251("Базы данных");
inline const std::string kDatabaseDialogFilter = ToCp1251("Базы данных (*.gdb, *.fdb)|*.gdb;*.fdb");
inline const std::string kMenuFile = ToCp1251("Файл");
inline const std::string kMenuSource = ToCp1251("Источник данных ...");
inline const std::string kMenuDest = ToCp1251("Приемник данных ...");
inline const std::string kMenuHelp = ToCp1251("Помощь");
inline const std::string kMenuMainWindow = ToCp1251("Главное окно");
inline const std::string kMenuAbout = ToCp1251("О программе ...");
inline const std::string kErrorCaption = ToCp1251("Ошибка");
inline const std::string kWarningCaption = ToCp1251("Внимание");
inline const std::string kConfirmCaption = ToCp1251("Подтверждение");
inline const std::string kAboutLoadFailed = ToCp1251("Не удалось загрузить библиотеку about.dll");
inline const std::string kAboutEntryMissing = ToCp1251("Функция show_about в библиотеке about.dll не найдена");

// Main window: the check before a run, the log viewer, the help page, the date field
inline const std::string kMenuCheck = ToCp1251("Проверка переноса ...");
inline const std::string kCheckCaption = ToCp1251("Проверка переноса");
inline const std::string kCheckNoProblems = ToCp1251("Проблем не найдено.");
inline const std::string kCheckProblems = ToCp1251("Найдено проблем: ");
// Main window: the check before a run, in the viewer (the command line says it in English)
inline const std::string kCheckClear = ToCp1251("очистка");
inline const std::string kCheckClearWhere = ToCp1251("очистка строк, где %1");
inline const std::string kCheckClearZones = ToCp1251("очистка ZONES");
inline const std::string kCheckClearAgain = ToCp1251("повторная очистка (все строки)");
inline const std::string kCheckClearOnly = ToCp1251("только очистка (все строки)");
inline const std::string kCheckMacros = ToCp1251("перенос макросов (все макросы, новые ключи, ключи устройств в текстах заменяются)");
inline const std::string kCheckCopy = ToCp1251("копирование");
inline const std::string kCheckCopyNewKeys = ToCp1251("копирование с новыми ключами");
inline const std::string kCheckUpdateFiveColumns = ToCp1251("обновление пяти столбцов на месте");
inline const std::string kCheckUpdatePhotos = ToCp1251("обновление фотографий перенесенных владельцев");
inline const std::string kCheckOfRowsWhere = ToCp1251(" строк, где %1");
inline const std::string kCheckPhotosFromOwner = ToCp1251(" (фотографии берутся из OWNER источника)");
inline const std::string kCheckUpdateColumn = ToCp1251("обновление столбца %1 по %2");
inline const std::string kCheckNeverCleared = ToCp1251("списком таблиц не очищается");
inline const std::string kCheckJournalNotHere = ToCp1251("здесь не копируется: журналы переносятся только вместе с событиями");
inline const std::string kCheckNotCopied = ToCp1251("не копируется");
inline const std::string kCheckJournalCopy = ToCp1251("блок журналов: копирование строк с %1");
inline const std::string kCheckNoTableName = ToCp1251("нет имени таблицы (в строке нет '=')");
inline const std::string kCheckTableMissingSource = ToCp1251("таблицы %1 нет в источнике");
inline const std::string kCheckTableMissingDest = ToCp1251("таблицы %1 нет в приемнике");
inline const std::string kCheckKeyMissingSource = ToCp1251("ключевого столбца %1 нет в %2 источника");
inline const std::string kCheckKeyMissingDest = ToCp1251("ключевого столбца %1 нет в %2 приемника");
inline const std::string kCheckNotWrittenExactly = ToCp1251("'%1' написано не в точности как %2: перенос считает ее обычной таблицей (без новых ключей и замены ссылок)");
inline const std::string kCheckFlagInCondition = ToCp1251("'%1' внутри условия считается признаком строки и меняет ее действие");
inline const std::string kCheckRowsUnreadable = ToCp1251("строки источника не читаются: %1");
inline const std::string kCheckTooFewColumns = ToCp1251("общих столбцов меньше, чем нужно для обновления пяти столбцов на месте");
inline const std::string kCheckKeyNotFirst = ToCp1251("ключевой столбец не первый из общих: перенос сопоставляет ключи по %1");
inline const std::string kCheckUpdateMissingSource = ToCp1251("обновляемого столбца %1 нет в %2 источника: ничего не обновляется");
inline const std::string kCheckUpdateMissingDest = ToCp1251("обновляемого столбца %1 нет в %2 приемника: ничего не обновляется");
inline const std::string kCheckUpdateColumnNotExact = ToCp1251("обновляемый столбец '%1' совпадает со столбцом %2 только без учета пробелов или регистра букв: перенос сравнивает имена в точности и ничего не обновляет");
inline const std::string kCheckReferencesBecomeMinusOne = ToCp1251("ссылки на %1 заменяются, но %1 не копируется до этой строки: они станут -1");
inline const std::string kCheckClearedNeverRefilled = ToCp1251("%1 очищается и больше не заполняется");
inline const std::string kCheckGeneratorTableMissing = ToCp1251("%1, строка %2: таблицы '%3' нет в приемнике");
inline const std::string kCheckGeneratorColumnMissing = ToCp1251("%1, строка %2: столбца '%3' нет в %4");
inline const std::string kCheckGeneratorMissing = ToCp1251("%1, строка %2: генератора '%3' нет в приемнике");
inline const std::string kCheckScriptMissing = ToCp1251("нет файла сценария %1");
inline const std::string kCheckLineHeading = ToCp1251("%1, строка %2");
inline const std::string kCheckJournalBlockHeading = ToCp1251("блок журналов");
inline const std::string kCheckComment = ToCp1251("комментарий");
inline const std::string kCheckDoes = ToCp1251("действия");
inline const std::string kCheckSource = ToCp1251("источник");
inline const std::string kCheckDestination = ToCp1251("приемник");
inline const std::string kCheckCopies = ToCp1251("копируются");
inline const std::string kCheckNotArriving = ToCp1251("не переносятся");
inline const std::string kCheckNoValue = ToCp1251("без значения");
inline const std::string kCheckSourceRows = ToCp1251("строк источника");
inline const std::string kCheckPresence = ToCp1251("таблица %1, ключ %2 %3");
inline const std::string kCheckYes = ToCp1251("да");
inline const std::string kCheckNo = ToCp1251("НЕТ");
inline const std::string kCheckRowsWhere = ToCp1251(" (где %1)");
inline const std::string kCheckSetToOne = ToCp1251(" (ставится 1)");
inline const std::string kCheckProblem = ToCp1251("ПРОБЛЕМА");
inline const std::string kMenuLog = ToCp1251("Журнал переноса ...");
inline const std::string kLogCaption = ToCp1251("Журнал переноса");
inline const std::string kLogMissing = ToCp1251("Журнал переноса не найден: ");
inline const std::string kLogFirstPage = ToCp1251("Первая страница");
inline const std::string kLogPreviousPage = ToCp1251("Предыдущая страница");
inline const std::string kLogNextPage = ToCp1251("Следующая страница");
inline const std::string kLogLastPage = ToCp1251("Последняя страница");
inline const std::string kLogPage = ToCp1251("Страница ");
inline const std::string kLogPageOf = ToCp1251(" из ");
inline const std::string kLogSearch = ToCp1251("Текст для поиска");
inline const std::string kLogFind = ToCp1251("Найти");
inline const std::string kLogNotFound = ToCp1251("Не найдено: ");
inline const std::string kHelpCaption = ToCp1251("Помощь: главное окно");
inline const std::string kClearDate = ToCp1251("Очистить дату");
inline const std::string kClose = ToCp1251("Закрыть");
// Login dialog
inline const std::string kLoginCaption = ToCp1251("Вход на сервер");
inline const std::string kLoginRefused = ToCp1251("Сервер отклонил вход. ");
inline const std::string kLoginUser = ToCp1251("Пользователь:");
inline const std::string kLoginPassword = ToCp1251("Пароль:");
// A run or check ended by a refused login: the database, the user, then the server's text.
inline const std::string kSourceLoginRefused = ToCp1251("Источник данных \"%s\": сервер отклонил вход пользователя \"%s\".\n");
inline const std::string kDestLoginRefused = ToCp1251("Приемник данных \"%s\": сервер отклонил вход пользователя \"%s\".\n");
// Main window: the folder of the data files and the run log
inline const std::string kMenuDataFolder = ToCp1251("Папка данных ...");
inline const std::string kMenuExit = ToCp1251("Выход");
inline const std::string kDataFolderDialogTitle = ToCp1251("Папка данных: Conv.txt, Generator.txt, SQL");
inline const std::string kDataFolderStatus = ToCp1251("Папка данных: ");
// Main window: the account after a run
inline const std::string kSummaryCaption = ToCp1251("Итоги переноса: ");
inline const std::string kOutcomeFinished = ToCp1251("перенос завершен");
inline const std::string kOutcomeInterrupted = ToCp1251("перенос прерван");
inline const std::string kOutcomeFailed = ToCp1251("перенос завершился ошибкой");
inline const std::string kSummaryHeaders[] = {ToCp1251("Таблица"), ToCp1251("Прочитано"), ToCp1251("Записано"),
                                              ToCp1251("Отказано"), ToCp1251("Секунд"), ToCp1251("Ссылок -1"),
                                              ToCp1251("Ссылки -1 по столбцам")};
inline const std::string kAllAccountedHead = ToCp1251("Все строки учтены");
inline const std::string kAllAccounted = kAllAccountedHead + ".";
// printf formats: the rows written and refused; the table, the rows present, the rows read
// and the start date.
inline const std::string kAllAccountedRefused = kAllAccountedHead + ToCp1251(": записано %d, отказано %d (см. журнал переноса).");
// %1 the journal table, %2 its rows already present, %3 the rows the copy reads, %4 the start date.
inline const std::string kRowsPresent = ToCp1251("%1: %2 из %3 строк с %4 уже есть в приемнике; перенос откажет в их записи.");
inline const std::string kCheckIndexLeftInactive =
    ToCp1251("индекс %1 таблицы %2 оставлен неактивным переносом, который не завершился или не смог сделать его "
             "активным; следующий перенос сделает его активным");
inline const std::string kCheckForcedWritesLeftOff = ToCp1251(
    "принудительная запись (forced writes) приемника оставлена выключенной незавершенным переносом; следующий перенос "
    "включит ее, когда к базе не будет подключен никто другой");
inline const std::string kCheckPresentUncountable = ToCp1251("строки приемника не удается сравнить: %1");
inline const std::string kSummaryJournalsFrom = ToCp1251("Журналы событий и тревог: с ");
inline const std::string kSummaryNoJournals = ToCp1251("Журналы событий и тревог: не переносились");
inline const std::string kNotAccounted = ToCp1251("Не учтены строки таблиц: ");
inline const std::string kTableFailed = ToCp1251("Ошибка: ");
// The read-back and the key map
inline const std::string kMenuVerify = ToCp1251("Проверять перенос");
inline const std::string kVerifyHeaders[] = {ToCp1251("Проверено"), ToCp1251("Различий")};
inline const std::string kAllVerified = ToCp1251("Приемник содержит все перенесенные строки без изменений.");
inline const std::string kDifferences = ToCp1251("Различия с источником в таблицах: ");
inline const std::string kNotVerified = ToCp1251("Проверка прервана, не проверены таблицы: ");
inline const std::string kSaveKeyMap = ToCp1251("Сохранить ключи ...");
inline const std::string kKeyMapDialogTitle = ToCp1251("Старые и новые ключи устройств");
inline const std::string kKeyMapDialogFilter = ToCp1251("Таблицы CSV (*.csv)|*.csv");
inline const std::string kKeyMapClash = ToCp1251("Этот файл нужен переносу, ключи в него не записаны: ");

} // namespace kestrix::texts
