// What tar does with the payload, as the command line chose it.
#ifndef VORLAN_TAR_ACTION_H
#define VORLAN_TAR_ACTION_H

// custom: the words given after --tar.
enum class tar_action { extract, list, custom };

#endif
