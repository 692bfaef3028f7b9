#include "mtaconfig/milter_config.hpp"

#include "common/paths.hpp"
#include "mtaconfig/macro_file.hpp"
#include "mtaconfig/sendmail_cf.hpp"
#include "mtaconfig/sendmail_control.hpp"

mta_config_files default_mta_config_files() { return {paths::sendmail_cf, paths::macro_file}; }

void install_milter_config(const mta_config_files& files) {
  install_cf_entry(files.sendmail_cf);
  install_mc_entry(files.macro_file);
}

void remove_milter_config(const mta_config_files& files, const sendmail_host& host,
                          command_runner& runner) {
  remove_cf_entry(files.sendmail_cf);
  remove_mc_entry(files.macro_file);
  reload_sendmail(host, runner);
}

void install_milter_config() { install_milter_config(default_mta_config_files()); }

void remove_milter_config() {
  system_command_runner runner;
  remove_milter_config(default_mta_config_files(), default_sendmail_host(), runner);
}
