#include "providers/stt_prompt.h"

namespace vurin {

const std::string_view sttDomainPrompt =
    "以下是软件开发相关的中文口述,可能夹杂英文技术词。常见词汇:Claude "
    "Code、Codex、Cursor、国际化、本地化、架构、重构、函数、变量、组件、接口、依赖、部署、run、buil"
    "d、ring、smart "
    "ring、debug、deploy、architecture、refactor、function、component、library、API、endpoint、Type"
    "Script、Swift、Python、iOS、Android、bug、commit、merge、pull "
    "request、prompt、token、embedding、whisper、Ollama。";

const std::string_view geminiTranscriptionInstruction =
    "逐字转写这段语音,只输出转写文本本身,不要任何解释。参考词汇:";

}  // namespace vurin
