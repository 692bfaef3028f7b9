#include "mtaconfig/milter_config.hpp"

#include "common/paths.hpp"
#include "mtaconfig/macro_file.hpp"
#include "mtaconfig/sendmail_cf.hpp"

mta_config_files default_mta_config_files() {
  return {paths::sendmail_cf, paths::sendmail_cf_temp, paths::macro_file, paths::macro_file_temp};
}

void install_milter_config(const mta_config_files& files, command_runner& runner) {
  install_cf_entry(files.sendmail_cf, files.sendmail_cf_temp, runner);
  install_mc_entry(files.macro_file, files.macro_file_temp, runner);
}

void remove_milter_config(const mta_config_files& files, command_runner& runner) {
  remove_cf_entry(files.sendmail_cf, files.sendmail_cf_temp, runner);
  remove_mc_entry(files.macro_file, files.macro_file_temp, runner);
  if (runner.run(commands::sendmail_running) == 0) runner.run(commands::sendmail_reload);
}

void install_milter_config() {
  system_command_runner runner;
  install_milter_config(default_mta_config_files(), runner);
}

void remove_milter_config() {
  system_command_runner runner;
  remove_milter_config(default_mta_config_files(), runner);
}
