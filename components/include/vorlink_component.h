/*
 * The crypto component interface: a plain C table of functions that a
 * component library exports, so that a component can be built separately,
 * by anyone, in any language. The agent finds the library through a
 * registration file named after the ProgID (docs/component-runtime.md).
 *
 * Versioning: the table starts with its ABI version and its size and only
 * ever grows at the end; a component built for version 1 keeps loading.
 */
#ifndef VORLINK_COMPONENT_H
#define VORLINK_COMPONENT_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define VORLINK_COMPONENT_ABI_VERSION 1u

/* Variant types: the automation type numbers. */
#define VORLINK_VT_EMPTY 0
#define VORLINK_VT_I4 3
#define VORLINK_VT_R8 5
#define VORLINK_VT_BSTR 8
#define VORLINK_VT_BOOL 11
#define VORLINK_VT_UI4 19

/* Call kinds. */
#define VORLINK_CALL_METHOD 1
#define VORLINK_CALL_PROPERTY_GET 2

/* Status codes. */
#define VORLINK_S_OK 0
#define VORLINK_E_EXCEPTION ((int32_t)0x80020009) /* details in the exception record */
#define VORLINK_E_MEMBER_NOT_FOUND ((int32_t)0x80020003)
#define VORLINK_E_FAIL ((int32_t)0x80004005)

/* A value. Text is UTF-16 with an explicit length in code units (it may
 * hold NUL units). */
typedef struct vorlink_variant {
  uint16_t type;
  int64_t integer;      /* VT_I4, VT_UI4, VT_BOOL */
  double real;          /* VT_R8 */
  const uint16_t* text; /* VT_BSTR */
  size_t text_length;
} vorlink_variant;

/* What a failed call reports when it returns VORLINK_E_EXCEPTION. */
typedef struct vorlink_exception {
  int32_t code;
  uint16_t* description; /* owned by the component: released with free_string */
  size_t description_length;
} vorlink_exception;

/* Services the agent offers a component (dialogs on the desktop). The
 * agent owns the table; it stays valid for the instance's life. May grow at
 * the end: a component checks `size` before it uses a member. Every text is
 * UTF-8. The dialogs are shown by the agent on its user-interface thread and
 * the call returns when the user has answered; any of them may be called
 * from any thread. */
typedef struct vorlink_host_services {
  uint32_t size; /* sizeof(vorlink_host_services) as the agent was built */
  void* context; /* passed back as the first argument of every member */

  /* Asks the user for a folder. Returns the chosen absolute path, or NULL
   * when the user cancelled or no desktop is available. Release the text
   * with free_text. */
  char* (*select_folder)(void* context, const char* title);

  /* Asks the user for one or more existing files. Returns the absolute
   * paths separated by '\n', or NULL when cancelled. Release with
   * free_text. */
  char* (*select_files)(void* context, const char* title);

  /* A small "please wait" window with a message: shown by begin_wait,
   * updated by set_wait_message, closed by end_wait. Calls without an open
   * window are ignored. */
  void (*begin_wait)(void* context, const char* message);
  void (*set_wait_message)(void* context, const char* message);
  void (*end_wait)(void* context);

  void (*free_text)(void* context, char* text);
} vorlink_host_services;

typedef struct vorlink_component_api {
  uint32_t abi_version; /* VORLINK_COMPONENT_ABI_VERSION */
  uint32_t size;        /* sizeof(vorlink_component_api) as the component was built */

  /* Creates an instance of the class `clsid` (16 bytes). On success stores
   * it in *instance and returns VORLINK_S_OK; the agent releases it with
   * release_instance. `host` may be NULL. */
  int32_t (*create_instance)(const uint8_t clsid[16], const vorlink_host_services* host, void** instance);

  /* Calls member `dispid` with `arg_count` positional arguments (Param1
   * first). The arguments belong to the agent and are valid only during the
   * call. A VT_BSTR result's text is owned by the component until the agent
   * releases it with free_string. On VORLINK_E_EXCEPTION the component fills
   * *exception. */
  int32_t (*invoke)(void* instance, int32_t dispid, int32_t call_kind, const vorlink_variant* args, size_t arg_count,
                    vorlink_variant* result, vorlink_exception* exception);

  /* Releases text the component returned (a result or a description). */
  void (*free_string)(uint16_t* text);

  /* Ends the instance; the agent makes no further call on it. */
  void (*release_instance)(void* instance);
} vorlink_component_api;

/* The one symbol a component library exports. The table is static and
 * owned by the library. */
const vorlink_component_api* vorlink_get_component_api(void);

#ifdef __cplusplus
}
#endif

#endif /* VORLINK_COMPONENT_H */
