// VistoraHost: a host application for the uploader, and the instrument for its DDE service.
//
//   VistoraHost handover [options] SOURCE[=NAME]...  hand files over and start the upload
//   VistoraHost wait-ready [--limit SECONDS]         wait until the uploader answers on DDE
//   VistoraHost raw [options] ACTION ...             one DDE transaction, reply printed exactly
//
// Run without arguments for the full usage.
#include "dde_client.h"
#include "handover.h"
#include "raw_mode.h"
#include "wait_ready.h"

#include <cstdio>
#include <cstring>

namespace {

const char Usage[] =
    "usage:\n"
    "  VistoraHost handover [--exe PATH] [--count N | --no-count] [--login-data TEXT]\n"
    "                       [--login-data-file PATH] [--no-upload] [--wait SECONDS]\n"
    "                       [--timeout MS] [--start-timeout SECONDS] [--limit SECONDS]\n"
    "                       [--one-conversation [--dispatch MS]]\n"
    "                       [--unattended [--close-after SECONDS] [--close-answer yes|no]]\n"
    "                       [--leftovers] [--replace] [--report FILE] SOURCE[=NAME]...\n"
    "      Copies each SOURCE into the uploader's temp folder as NAME (its own file name\n"
    "      unless given; NAME may hold subfolders, sub\\b.jpg), never over a file that\n"
    "      already waits there unless --replace; with --leftovers first hands over every\n"
    "      file that already waits in temp, without copying (the uploader must not be\n"
    "      running). Starts the uploader with the count unless it runs, pokes each name\n"
    "      to Upload/Filename, optionally pokes LoginData (\\t in TEXT stands for a tab,\n"
    "      \\n for a line feed) and executes \"upload\" on System. With --wait it waits for\n"
    "      the uploader to end and reports the files still in temp.\n"
    "      --one-conversation also reads items on the conversations it pokes and\n"
    "      executes on: Upload/SysItems and Upload/LoginData before the pokes,\n"
    "      Upload/Filename after them, System/Topics before the execute, each reply\n"
    "      printed as a JSON line; after each read it dispatches its messages for\n"
    "      --dispatch MS (50 unless given; 0 for none).\n"
    "      --unattended waits (600 s unless --wait says otherwise) as a host with nobody\n"
    "      at the desktop: prints each alert of the uploader (\"alert: CAPTION: TEXT\")\n"
    "      and answers it with OK, answers the close question with --close-answer (yes\n"
    "      unless given) and the login dialog with Cancel; --close-after SECONDS asks the\n"
    "      uploader to close (WM_CLOSE) that long after the hand-over.\n"
    "      --report FILE writes the outcome as one JSON object. The command ends within\n"
    "      --limit SECONDS (the start time-out, the wait and 60 s unless given).\n"
    "      Exit codes: 0 done (all files gone with --wait), 1 files left in temp,\n"
    "      2 usage, 3 service not running or not starting, 4 connection refused,\n"
    "      5 a transaction was not acknowledged, 6 the wait or the limit ran out,\n"
    "      7 a name already waited in temp (that file was not handed over).\n"
    "  VistoraHost wait-ready [--limit SECONDS]\n"
    "      Waits until the uploader's DDE service answers a request, at most SECONDS\n"
    "      (30 unless given). Exit codes: 0 ready, 2 usage, 3 no answer within the limit.\n"
    "  VistoraHost raw [--context none|default|codepage=N,flags=N,security=N,impersonation=N]\n"
    "                  [--timeout MS] [--format N] [--service NAME] [--limit SECONDS]\n"
    "                  ACTION ...\n"
    "      connect TOPIC\n"
    "      request TOPIC ITEM\n"
    "      advstart TOPIC ITEM\n"
    "      poke TOPIC ITEM (--text TEXT | --hex HEX | --file PATH)\n"
    "      poke-many TOPIC ITEM NAME...\n"
    "      execute TOPIC (--text TEXT | --hex HEX)\n"
    "      wildcard\n"
    "      Prints one JSON object: the transaction result and any reply as hex.\n"
    "      --text sends the text with its terminating zero; --hex exactly the bytes.\n"
    "      Ends within --limit SECONDS (30 unless given), with exit code 6 when it runs\n"
    "      out.\n";

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "handover") == 0)
        return RunHandover(argc - 2, argv + 2);
    if (argc >= 2 && std::strcmp(argv[1], "wait-ready") == 0)
        return RunWaitReady(argc - 2, argv + 2);
    if (argc >= 2 && std::strcmp(argv[1], "raw") == 0)
        return RunRaw(argc - 2, argv + 2);
    std::fputs(Usage, stderr);
    return 2;
}
