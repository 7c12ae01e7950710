// parcelo-cli: the archive engine from a terminal. This file only reads the command line (with
// CLI11) into the option set of one subcommand and dispatches to it; each subcommand lives in a
// file of its own. Usage mistakes exit with status 2 and a one-line reason on standard error;
// --help and --version print to standard output and exit 0.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>

#include "cli/commands.h"

#ifndef PARCELO_VERSION
#define PARCELO_VERSION "unknown"
#endif

namespace {

constexpr int kExitUsage = 2;

// `text` broken into lines of at most `width` columns at spaces, for the help texts.
std::string Wrap(const std::string& text, size_t width = 78) {
  std::string out, line;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    if (!line.empty() && line.size() + 1 + word.size() > width) {
      out += line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    start = end + 1;
  }
  return out + line;
}

// The subcommand named on the command line (the deepest one), or the program itself.
const CLI::App* ChosenCommand(const CLI::App& app) {
  const CLI::App* chosen = &app;
  while (!chosen->get_subcommands().empty()) chosen = chosen->get_subcommands().front();
  return chosen;
}

void AddType(CLI::App& app, TTypeOptions& options) {
  CLI::App* type = app.add_subcommand("type", "detect the archive type of files");
  type->footer(Wrap(
      "Prints for each FILE the type, its display name, where the archive starts (-1 when none "
      "was found), the zip header state and, for formats with numbered volumes, the volume letter "
      "and number. Changes no file."));
  type->add_option("FILE", options.files, "the files to examine")->required()->type_name("");
}

void AddList(CLI::App& app, TListOptions& options) {
  CLI::App* list = app.add_subcommand("list", "list the members of an archive");
  list->footer(
      Wrap("Prints one name per line, or (-v) a table of dates, sizes, ratios, methods and CRC-32 "
           "values with a totals line; a \"*\" after the method marks an encrypted member, a "
           "\"!\" a member that extraction refuses (overlapping another, a name that is empty, "
           "holds a zero byte or names nothing), a negative ratio a member that grew. Control "
           "characters in names are shown as ^[, ^G, ..."));
  list->add_option("ARCHIVE", options.archive, "the archive to list")->required()->type_name("");
  list->add_option("MASK", options.masks, "list only the members matching these wildcard masks")
      ->type_name("");
  list->add_flag("-v,--verbose", options.verbose, "print a table of the member details");
  list->add_flag("--dirs", options.dirs, "list folders stored as members of their own too");
  list->add_flag("--engine-names", options.engineNames,
                 "print names as the engine keeps them, with \"\\\" separators");
}

// The formats extract and test read, said the same way in both helps.
constexpr char kFormatsRead[] =
    "Formats: zip (stored, deflate, Deflate64, shrink, reduce, implode; traditional encryption; "
    "self-extracting, split and spanned sets), TAR (v7, ustar, GNU, pax, sparse files) plain or "
    "compressed with gzip, bzip2, xz, lzma, zstd, lz4, lzip or compress, 7z (LZMA, LZMA2, PPMd, "
    "BCJ, BCJ2, Deflate, BZip2, Copy; solid), RAR (the methods of RAR 2.9 to 5; solid, "
    "multi-volume), cpio, ISO 9660, "
    "LHA and LZH (-lh0- to -lh7-, -lhx-, -lz4-, -lz5-, -lzs-, -pm0- to -pm2-; self-extracting), "
    "cabinets (stored, MSZIP, Quantum, LZX; sets of cabinets), SZDD and KWAJ, UUE, "
    "ARJ (methods 0 to 4; garbled with a password, multi-volume, self-extracting), ARC and PAK "
    "(methods 1 to 9: stored, packed, squeezed, crunched, squashed), ZOO (stored, LZW, lh5), "
    "HA (CPY, ASC), ACE (stored, ACE 1.0 and 2.0; solid, multi-volume, self-extracting), "
    "and single files compressed with gzip, bzip2, xz, zstd, lz4, lzip or compress. "
    "BH members are listed, their methods named as not decoded.";

void AddExtract(CLI::App& app, TExtractOptions& options) {
  CLI::App* extract = app.add_subcommand("extract", "extract an archive into a folder");
  extract->footer(
      Wrap(std::string("Extracts all members of ARCHIVE, or those matching a MASK, into DIR, by "
                       "default a folder named after the archive in the current folder. With "
                       "--ask-password and --ask the terminal is asked for passwords and about "
                       "existing files. ") +
           kFormatsRead));
  extract->add_option("ARCHIVE", options.archive, "the archive to extract")
      ->required()
      ->type_name("");
  extract
      ->add_option("MASK", options.masks,
                   "extract only the members matching these wildcard masks (\"/\" or \"\\\")")
      ->type_name("");
  extract->add_option("-d,--directory", options.directory, "extract into DIR (made when missing)")
      ->type_name("DIR")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  // One value per -p, so that a mask after "-p secret" stays a mask; each -p adds a password.
  extract
      ->add_option("-p,--password", options.passwords,
                   "a password to try on encrypted members (may be given more than once)")
      ->type_name("PASSWORD")
      ->allow_extra_args(false);
  extract->add_flag("--ask-password", options.askPassword,
                    "ask on the terminal for the password of an encrypted member");
  CLI::Option* overwrite = extract->add_flag_callback(
      "--overwrite", [&] { options.existing = TExistingFiles::Overwrite; },
      "replace existing files (the default)");
  CLI::Option* skip = extract->add_flag_callback(
      "--skip-existing", [&] { options.existing = TExistingFiles::Skip; },
      "keep existing files, skip their members");
  CLI::Option* ask = extract->add_flag_callback(
      "--ask", [&] { options.existing = TExistingFiles::Ask; },
      "ask for each existing file: yes, no, All, None or rename");
  extract->callback([overwrite, skip, ask] {
    if (overwrite->count() + skip->count() + ask->count() > 1)
      throw CLI::ValidationError("choose one of --overwrite, --skip-existing, --ask");
  });
  extract->add_flag("--junk-paths", options.junkPaths,
                    "drop the stored folders, extract every member into DIR itself");
  extract->add_flag("-q,--quiet", options.quiet, "no progress bar and no summary line");
}

void AddTest(CLI::App& app, TExtractOptions& options) {
  options.test = true;
  CLI::App* test = app.add_subcommand("test", "check the members of an archive");
  test->footer(
      Wrap(std::string("Decodes every member of ARCHIVE (or those matching a MASK) and checks its "
                       "format's checksum, writing nothing, and reports what extraction would "
                       "refuse (overlapping members, names that cannot be written, links leading "
                       "out or below a link). Exit status 0 only when every member passes. ") +
           kFormatsRead));
  test->add_option("ARCHIVE", options.archive, "the archive to test")
      ->required()
      ->type_name("");
  test->add_option("MASK", options.masks, "test only the members matching these wildcard masks")
      ->type_name("");
  test->add_option("-p,--password", options.passwords,
                   "a password to try on encrypted members (may be given more than once)")
      ->type_name("PASSWORD")
      ->allow_extra_args(false);
  test->add_flag("--ask-password", options.askPassword,
                 "ask on the terminal for the password of an encrypted member");
  test->add_flag("-q,--quiet", options.quiet, "no progress bar; the summary only on errors");
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Parcelo's archive engine from a terminal: detect, list, extract and test archives.",
               "parcelo-cli"};
  app.set_version_flag("--version", std::string("parcelo-cli ") + PARCELO_VERSION);
  app.require_subcommand(1);
  // Set before the commands are added, which share the program's formatter.
  app.get_formatter()->label("SUBCOMMAND", "COMMAND");
  app.get_formatter()->label("Positionals", "Arguments");

  TTypeOptions typeOptions;
  TListOptions listOptions;
  TExtractOptions extractOptions;
  TExtractOptions testOptions;
  AddType(app, typeOptions);
  AddList(app, listOptions);
  AddExtract(app, extractOptions);
  AddTest(app, testOptions);
  for (CLI::App* command : app.get_subcommands({})) command->group("Commands");
  app.footer(Wrap(
      "Run 'parcelo-cli COMMAND --help' for the options of a command. Exit status: 0 all went "
      "well; 1 warnings (something was said, nothing was lost: a directory recovered from the "
      "local headers, a local header naming a member otherwise, a Unicode Path set aside for the "
      "header's name, a folder entry holding bytes, an empty archive); 2 errors (a member not extracted, listed or tested, each "
      "named once with its reason, members refused as overlapping or below a link included; an "
      "archive that cannot be read; a mistake on the command line); 11 no member matches the "
      "masks given."));

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    const CLI::App* command = ChosenCommand(app);
    const std::string name = command == &app ? std::string() : command->get_name();
    if (argc == 1) {
      std::fputs("parcelo-cli: no command given\n", stderr);
    } else if (command == &app) {
      // Nothing was taken as a command: say what stood in its place.
      std::fprintf(stderr, "parcelo-cli: unknown %s '%s'\n",
                   argv[1][0] == '-' ? "option" : "command", argv[1]);
    } else {
      std::fprintf(stderr, "parcelo-cli: %s%s%s\n", name.c_str(), name.empty() ? "" : ": ",
                   e.what());
    }
    std::fprintf(stderr, "Run 'parcelo-cli %s%s--help' for usage.\n", name.c_str(),
                 name.empty() ? "" : " ");
    return kExitUsage;
  }

  const std::string command = ChosenCommand(app)->get_name();
  if (command == "type") return RunType(typeOptions);
  if (command == "list") return RunList(listOptions);
  if (command == "test") return RunExtract(testOptions);
  return RunExtract(extractOptions);
}
