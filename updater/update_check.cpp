// The update check against the update server.
#include "update_check.h"

#include <string>

#include "client_end.h"
#include "client_state.h"
#include "download.h"
#include "hand_over.h"
#include "message_catalogue.h"
#include "offer_signature.h"
#include "progress_window.h"
#include "settings.h"
#include "system.h"

std::string module_check_request() {
  return module_check_url + "?os=windows";
}

// Values go in as they are, without percent-encoding: the server expects
// the definitions version exactly as the definitions file holds it.
std::string update_check_request() {
  return update_check_url + "?version=" + definitions_version + "&os=windows";
}

namespace {

struct module_reply {
  std::string version, url, signature;
};

struct update_reply {
  std::string update, url, version, date;
};

module_reply read_module_reply() {
  module_reply reply;
  {
    settings_user user;
    settings_open(reply_file);
    reply.version = settings_read("version");
    reply.url = settings_read("url");
    if (offer_signature_required()) reply.signature = settings_read("signature");
    settings_close();
  }
  file_delete(reply_file);
  return reply;
}

update_reply read_update_reply() {
  update_reply reply;
  {
    settings_user user;
    settings_open(reply_file);
    reply.update = settings_read("update");
    reply.url = settings_read("url");
    // Stored before the update button can be enabled, so a click always
    // finds the address in place.
    download_url = reply.url;
    reply.version = settings_read("version");
    reply.date = settings_read("date");
    if (offer_signature_required()) download_signature = settings_read("signature");
    settings_close();
  }
  file_delete(reply_file);
  return reply;
}

// Module check: a module whose version differs from ours in any way (older,
// empty, trailing blank) is fetched and started in our place.
void check_module() {
  const std::string request = module_check_request();
  const int fetched = download_to_file(request, reply_file, reply_max_bytes);
  forget_cached_url(request);
  if (!fetched) return;
  const module_reply reply = read_module_reply();
  if (reply.version == module_version) return;
  show_status(message_downloading_module);
  // A module that fails its signature check is a failed download.
  if (download_to_file(reply.url, module_file, program_max_bytes, offer_check(reply.signature))) {
    run_program(module_file);
    end_client();
  }
}

void check_update() {
  show_status(message_checking_product);
  if (!download_to_file(update_check_request(), reply_file, reply_max_bytes)) {
    show_status(message_connection_failed);
    return;
  }
  const update_reply reply = read_update_reply();
  set_control_text(available_version_label, catalogue_entry(message_available_version) +
                                                reply.version + " (" + reply.date + ")");
  const bool automatic = auto_mode == "auto";
  if (reply.update == "y") {
    disable_control(update_button, 0);
    show_status(message_update_available);
    // Returns only when the download failed; the window then stays.
    if (automatic) download_and_hand_over();
  } else if (reply.update == "n") {
    show_status(message_no_update);
    if (automatic) end_client();
  } else if (reply.update == "e") {
    show_status(message_error);
    if (automatic) end_client();
  }
}

}  // namespace

int run_update_check(int) {
  set_control_text(installed_version_label, catalogue_entry(message_installed_version) +
                                                definitions_version + " (" + definitions_date +
                                                ")");
  show_status(message_checking_module);
  check_module();
  check_update();
  file_delete(reply_file);
  animation_stop.store(1);
  return 0;
}
